#include "SkinTestSupport.h"

#include "platform/resources/ResourceLibrary.h"
#include "skin/SkinPictures.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

using platform::ResourceLibrary;

namespace {

const QString wave = toQString(skin::skinResourceType);
const QString brandName = skin::skinResourceName("imgBrand");

QString writeFile(const QTemporaryDir &dir, const char *name, const QByteArray &bytes)
{
    const QString path = dir.filePath(QLatin1String(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ResourceLibraryTest, UnusableFilesGiveNoHandle)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString oversized = dir.filePath(QStringLiteral("huge.rcc"));
    {
        // Sparse: the bound must be checked before anything is read.
        QFile file(oversized);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ResourceLibrary::maxFileSize + 1));
    }
    QByteArray truncated = readFile(sampleSkinFile("sample-skin.rcc"));
    ASSERT_FALSE(truncated.isEmpty());
    truncated.chop(1);

    const struct
    {
        const char *what;
        QString path;
    } cases[] = {
        {"no setting", QString()},
        {"missing file", dir.filePath(QStringLiteral("absent.rcc"))},
        {"folder", dir.path()},
        {"empty file", writeFile(dir, "empty.rcc", {})},
        {"picture, not a bundle", writeFile(dir, "pic.rcc", readFile(":/skin/imgBrand.png"))},
        {"truncated bundle", writeFile(dir, "cut.rcc", truncated)},
        {"above the size bound", oversized},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ResourceLibrary::open(c.path), 0u);
    }
}

TEST(ResourceLibraryTest, SampleLibraryFindsEveryPictureInAnyCase)
{
    const auto library = ResourceLibrary::open(sampleSkinFile("sample-skin.rcc"));
    ASSERT_NE(library, 0u);
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        const QString name = skin::skinResourceName(picture.name);
        for (const QString &asked : {name, name.toUpper(), name.toLower()}) {
            SCOPED_TRACE(asked.toStdString());
            const auto resource
                = ResourceLibrary::findResource(library, QStringLiteral("wAvE"), asked);
            ASSERT_TRUE(resource.has_value());
            const QByteArray bytes = ResourceLibrary::bytes(*resource);
            EXPECT_TRUE(bytes.startsWith("\x89PNG"));
            EXPECT_EQ(ResourceLibrary::size(*resource), bytes.size());
        }
    }
    // Right name, wrong type; and a built-in picture is not reachable through a library.
    EXPECT_FALSE(ResourceLibrary::findResource(library, QStringLiteral("BITMAP"), brandName));
    EXPECT_FALSE(ResourceLibrary::findResource(library, QStringLiteral("skin"),
                                               QStringLiteral("imgBrand.png")));
    EXPECT_TRUE(ResourceLibrary::close(library));
}

TEST(ResourceLibraryTest, NoBrandLibraryLacksOnlyTheBrand)
{
    const auto library = ResourceLibrary::open(sampleSkinFile("sample-skin-nobrand.rcc"));
    ASSERT_NE(library, 0u);
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        SCOPED_TRACE(std::string(picture.name));
        const bool found
            = ResourceLibrary::findResource(library, wave, skin::skinResourceName(picture.name))
                  .has_value();
        EXPECT_EQ(found, picture.name != "imgBrand");
    }
    ResourceLibrary::close(library);
}

TEST(ResourceLibraryTest, OpenLibrariesDoNotCollide)
{
    const QString fullPath = sampleSkinFile("sample-skin.rcc");
    const auto full = ResourceLibrary::open(fullPath);
    const auto nobrand = ResourceLibrary::open(sampleSkinFile("sample-skin-nobrand.rcc"));
    const auto fullAgain = ResourceLibrary::open(fullPath);
    ASSERT_NE(full, 0u);
    ASSERT_NE(nobrand, 0u);
    ASSERT_NE(fullAgain, 0u);
    EXPECT_NE(full, nobrand);
    EXPECT_NE(full, fullAgain);

    EXPECT_TRUE(ResourceLibrary::findResource(full, wave, brandName));
    EXPECT_FALSE(ResourceLibrary::findResource(nobrand, wave, brandName));

    // Closing one copy of a file leaves the other copy and the other library working.
    const auto stale = ResourceLibrary::findResource(full, wave, brandName);
    ASSERT_TRUE(stale);
    EXPECT_TRUE(ResourceLibrary::close(full));
    EXPECT_EQ(ResourceLibrary::size(*stale), 0);
    EXPECT_TRUE(ResourceLibrary::bytes(*stale).isEmpty());
    const auto kept = ResourceLibrary::findResource(fullAgain, wave, brandName);
    ASSERT_TRUE(kept);
    EXPECT_FALSE(ResourceLibrary::bytes(*kept).isEmpty());
    EXPECT_TRUE(ResourceLibrary::findResource(nobrand, wave, skin::skinResourceName("picMainUp")));

    ResourceLibrary::close(fullAgain);
    ResourceLibrary::close(nobrand);
}

TEST(ResourceLibraryTest, ClosingTwiceOrClosingNothingIsHarmless)
{
    const auto library = ResourceLibrary::open(sampleSkinFile("sample-skin.rcc"));
    ASSERT_NE(library, 0u);
    EXPECT_TRUE(ResourceLibrary::close(library));
    EXPECT_FALSE(ResourceLibrary::close(library));
    EXPECT_FALSE(ResourceLibrary::close(0));
    EXPECT_FALSE(ResourceLibrary::findResource(library, wave, brandName));
    EXPECT_FALSE(ResourceLibrary::findResource(0, wave, brandName));

    // A closed handle is not handed out again, so a stale copy cannot reach a newer library.
    const auto next = ResourceLibrary::open(sampleSkinFile("sample-skin.rcc"));
    EXPECT_NE(next, 0u);
    EXPECT_NE(next, library);
    EXPECT_FALSE(ResourceLibrary::findResource(library, wave, brandName));
    ResourceLibrary::close(next);
}

TEST(ResourceLibraryTest, NamesThatStepOutsideTheLibraryAreNeverFound)
{
    const auto nobrand = ResourceLibrary::open(sampleSkinFile("sample-skin-nobrand.rcc"));
    const auto full = ResourceLibrary::open(sampleSkinFile("sample-skin.rcc"));
    ASSERT_NE(nobrand, 0u);
    ASSERT_NE(full, 0u);
    // From the library without a brand, try to reach the brand of the other library or the
    // one compiled into this executable.
    ASSERT_TRUE(QFile::exists(QStringLiteral(":/WAVE/") + brandName.toUpper()));
    const QString toOther
        = QStringLiteral("../../vedereve-resource-library-%1/WAVE/").arg(full) + brandName;
    const QString toExecutable = QStringLiteral("../../WAVE/") + brandName;
    const std::pair<QString, QString> cases[] = {
        {wave, toOther},
        {wave, toExecutable},
        {QStringLiteral("../../WAVE"), brandName},
        {QStringLiteral(".."), brandName},
        {QString(), brandName},
        {wave, QString()},
        {wave, QStringLiteral("WAVE\\") + brandName},
        {QStringLiteral("."), QStringLiteral("WAVE")},
    };
    for (const auto &[type, name] : cases) {
        SCOPED_TRACE((type + QLatin1Char('|') + name).toStdString());
        EXPECT_FALSE(ResourceLibrary::findResource(nobrand, type, name));
    }
    ResourceLibrary::close(full);
    ResourceLibrary::close(nobrand);
}

// A minimal bundle, version 2: root directory -> "WAVE" directory -> file "X" holding "abc".
struct Bundle
{
    static constexpr int tree = 49;
    static constexpr int nodeSize = 22;
    static constexpr int rootNode = tree;
    static constexpr int waveNode = tree + nodeSize;
    static constexpr int fileNode = tree + 2 * nodeSize;
    static constexpr int names = 27;
    static constexpr int xName = names + 14;
    static constexpr int blobs = 20;

    QByteArray bytes = QByteArray(tree + 3 * nodeSize, '\0');

    void put32(int offset, quint32 value) { qToBigEndian(value, bytes.data() + offset); }
    void put16(int offset, quint16 value) { qToBigEndian(value, bytes.data() + offset); }

    Bundle()
    {
        bytes.replace(0, 4, "qres");
        put32(4, 2);
        put32(8, tree);
        put32(12, blobs);
        put32(16, names);
        put32(blobs, 3);
        bytes.replace(blobs + 4, 3, "abc");
        put16(names, 4);
        for (int i = 0; i < 4; ++i)
            put16(names + 6 + 2 * i, quint16("WAVE"[i]));
        put16(xName, 1);
        put16(xName + 6, 'X');
        directory(rootNode, 0, 1, 1);
        directory(waveNode, 0, 1, 2);
        put32(fileNode, xName - names);
        put32(fileNode + 10, 0);
    }
    void directory(int node, quint32 name, quint32 count, quint32 first)
    {
        put32(node, name);
        put16(node + 4, 0x02);
        put32(node + 6, count);
        put32(node + 10, first);
    }
};

TEST(ResourceLibraryTest, MalformedBundlesAreRefused)
{
    EXPECT_TRUE(platform::isWellFormedResourceBundle(Bundle().bytes));

    const struct
    {
        const char *what;
        std::function<void(Bundle &)> spoil;
    } cases[] = {
        {"bad magic", [](Bundle &b) { b.bytes[0] = 'x'; }},
        {"version 0", [](Bundle &b) { b.put32(4, 0); }},
        {"version 4", [](Bundle &b) { b.put32(4, 4); }},
        {"tree past the end", [](Bundle &b) { b.put32(8, quint32(b.bytes.size())); }},
        {"last node cut short", [](Bundle &b) { b.bytes.chop(1); }},
        {"header cut short", [](Bundle &b) { b.bytes.truncate(19); }},
        {"directory is its own child", [](Bundle &b) { b.directory(Bundle::waveNode, 0, 1, 1); }},
        {"child before its parent", [](Bundle &b) { b.directory(Bundle::waveNode, 0, 1, 0); }},
        {"more children than nodes", [](Bundle &b) { b.put32(Bundle::rootNode + 6, 1000); }},
        {"child count wraps", [](Bundle &b) { b.put32(Bundle::rootNode + 6, 0xffffffff); }},
        {"child shared by two directories", [](Bundle &b) { b.put32(Bundle::rootNode + 6, 2); }},
        {"root is a file", [](Bundle &b) { b.put16(Bundle::rootNode + 4, 0); }},
        {"name past the end", [](Bundle &b) { b.put32(Bundle::fileNode, 1000); }},
        {"name longer than the file", [](Bundle &b) { b.put16(Bundle::xName, 500); }},
        {"data past the end", [](Bundle &b) { b.put32(Bundle::fileNode + 10, 100); }},
        {"data longer than the file", [](Bundle &b) { b.put32(Bundle::blobs, 1000); }},
        {"data length wraps", [](Bundle &b) { b.put32(Bundle::blobs, 0xfffffffc); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bundle bundle;
        c.spoil(bundle);
        EXPECT_FALSE(platform::isWellFormedResourceBundle(bundle.bytes));
    }
}

TEST(ResourceLibraryTest, BundlesMadeByTheResourceCompilerAreWellFormed)
{
    for (const char *file : {"sample-skin.rcc", "sample-skin-nobrand.rcc"}) {
        SCOPED_TRACE(file);
        const QByteArray bytes = readFile(sampleSkinFile(file));
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_TRUE(platform::isWellFormedResourceBundle(bytes));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    initBuiltInSkin();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
