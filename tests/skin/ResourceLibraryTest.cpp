#include "SkinTestSupport.h"

#include "platform/resources/ResourceLibrary.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

using platform::ResourceLibrary;

namespace {

const QString wave = QStringLiteral("WAVE");
const QString brandName = skin::skinResourceName("imgBrand");
const QString samplePath = sampleSkinFile("sample-skin.rcc");
const QString nobrandPath = sampleSkinFile("sample-skin-nobrand.rcc");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ResourceLibraryTest, UnusableFilesGiveNoHandle)
{
    QTemporaryDir dir;
    const QByteArray sample = readFile(samplePath);
    ASSERT_FALSE(sample.isEmpty());
    const auto file = [&](const char *name, const QByteArray &bytes, qint64 size = -1) {
        QFile out(dir.filePath(QLatin1String(name)));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        // Sparse: the bound must be checked before anything is read.
        EXPECT_TRUE(size < 0 || out.resize(size));
        return out.fileName();
    };
    for (const QString &path :
         {QString(), dir.filePath(QStringLiteral("absent.rcc")), dir.path(), file("empty.rcc", {}),
          file("pic.rcc", readFile(":/skin/imgBrand.png")),
          file("cut.rcc", sample.first(sample.size() - 1)),
          file("huge.rcc", sample, ResourceLibrary::maxFileSize + 1)})
        EXPECT_EQ(ResourceLibrary::open(path), 0u) << path.toStdString();
}

TEST(ResourceLibraryTest, DamagedBundlesAreRefused)
{
    const QByteArray sample = readFile(samplePath);
    ASSERT_TRUE(platform::isWellFormedResourceBundle(sample));
    const quint32 tree = qFromBigEndian<quint32>(sample.constData() + 8);
    const quint32 data = qFromBigEndian<quint32>(sample.constData() + 12);
    // Root node: name offset (4), flags (2), child count (4), first child (4).
    const struct
    {
        const char *what;
        quint32 offset, value;
    } cases[] = {
        {"unknown version", 4, 4},
        {"tree past the end", 8, quint32(sample.size())},
        {"child count wraps", tree + 6, 0xffffffff},
        {"root is its own child", tree + 10, 0},
        {"data length wraps", data, 0xfffffffc},
    };
    for (const auto &c : cases) {
        QByteArray spoilt = sample;
        qToBigEndian(c.value, spoilt.data() + c.offset);
        EXPECT_FALSE(platform::isWellFormedResourceBundle(spoilt)) << c.what;
    }
}

TEST(ResourceLibraryTest, OpenLibrariesDoNotCollideAndCloseSafely)
{
    const auto full = ResourceLibrary::open(samplePath);
    const auto nobrand = ResourceLibrary::open(nobrandPath);
    const auto fullAgain = ResourceLibrary::open(samplePath);
    ASSERT_TRUE(full && nobrand && fullAgain);

    // Closing one copy of a file leaves the other copy and the other library working.
    const auto stale = ResourceLibrary::findResource(full, wave, brandName);
    ASSERT_TRUE(stale);
    EXPECT_TRUE(ResourceLibrary::close(full));
    EXPECT_FALSE(ResourceLibrary::close(full));
    EXPECT_EQ(ResourceLibrary::size(*stale), 0);
    EXPECT_TRUE(ResourceLibrary::bytes(*stale).isEmpty());
    EXPECT_FALSE(ResourceLibrary::findResource(full, wave, brandName));
    const auto kept = ResourceLibrary::findResource(fullAgain, wave, brandName);
    ASSERT_TRUE(kept);
    EXPECT_FALSE(ResourceLibrary::bytes(*kept).isEmpty());
    EXPECT_TRUE(ResourceLibrary::findResource(nobrand, wave, skin::skinResourceName("picMainUp")));

    // A closed handle is not handed out again, so a stale copy cannot reach a newer library.
    const auto next = ResourceLibrary::open(samplePath);
    EXPECT_NE(next, full);
    for (auto library : {next, fullAgain, nobrand})
        ResourceLibrary::close(library);
}

TEST(ResourceLibraryTest, NamesThatStepOutsideTheLibraryAreNeverFound)
{
    const auto nobrand = ResourceLibrary::open(nobrandPath);
    const auto full = ResourceLibrary::open(samplePath);
    ASSERT_TRUE(nobrand && full);
    // From the library without a brand, try to reach the brand of the other library, the one
    // compiled into this executable, or a built-in picture.
    ASSERT_TRUE(QFile::exists(QStringLiteral(":/WAVE/") + brandName.toUpper()));
    const std::pair<QString, QString> cases[] = {
        {wave, QStringLiteral("../../vedereve-resource-library-%1/WAVE/").arg(full) + brandName},
        {wave, QStringLiteral("../../WAVE/") + brandName},
        {QStringLiteral(".."), brandName},
        {QString(), brandName},
        {wave, QStringLiteral("WAVE\\") + brandName},
        {QStringLiteral("skin"), QStringLiteral("imgBrand.png")},
    };
    for (const auto &[type, name] : cases)
        EXPECT_FALSE(ResourceLibrary::findResource(nobrand, type, name))
            << (type + QLatin1Char('|') + name).toStdString();
    ResourceLibrary::close(full);
    ResourceLibrary::close(nobrand);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    initBuiltInSkin();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
