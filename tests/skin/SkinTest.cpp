// The built-in and sample skins, and the resource library reader.

#include "platform/resources/ResourceLibrary.h"
#include "skin/SkinPictures.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <set>

using platform::ResourceLibrary;

namespace {

const QString wave = QStringLiteral("WAVE");
const QString brandName = skin::skinResourceName("imgBrand");
const QString samplePath = QStringLiteral(VEDEREVE_SAMPLE_SKIN_DIR "/sample-skin.rcc");
const QString nobrandPath = QStringLiteral(VEDEREVE_SAMPLE_SKIN_DIR "/sample-skin-nobrand.rcc");
[[maybe_unused]] const bool builtInSkinRegistered = (initBuiltInSkin(), true);

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage builtIn(std::string_view name)
{
    return QImage(skin::builtInSkinPath(name)).convertToFormat(QImage::Format_RGB32);
}

// The panel asks for the mixed-case names; the sample library stores them upper case.
TEST(SkinPictures, BuiltInAndSamplePicturesHaveTheirExactSizes)
{
    const auto library = ResourceLibrary::open(samplePath);
    ASSERT_NE(library, 0u);
    std::set<std::string_view> names;
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        SCOPED_TRACE(std::string(picture.name));
        EXPECT_TRUE(names.insert(picture.name).second) << "listed twice";
        const QSize size(picture.width, picture.height);
        EXPECT_EQ(builtIn(picture.name).size(), size);
        const auto resource = ResourceLibrary::findResource(library, QStringLiteral("wAvE"),
                                                            skin::skinResourceName(picture.name));
        ASSERT_TRUE(resource.has_value());
        const QByteArray bytes = ResourceLibrary::bytes(*resource);
        EXPECT_EQ(ResourceLibrary::size(*resource), bytes.size());
        const QImage sample = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(sample.size(), size);
        EXPECT_NE(sample, builtIn(picture.name)) << "sample skin repeats the built-in picture";
    }
    ResourceLibrary::close(library);
}

// Faces equal their stored states; the strip tops the background; tab headers leave names plain.
TEST(SkinPictures, InitialFacesEqualTheirStoredStatesAndBackgroundsFitTheirLabels)
{
    const std::string_view cases[][3] = {
        {"imgCamOnMain", "ImgCamOn0", "ImgCamOn1"},
        {"imgCamOffMain", "imgCamStop0", "imgCamStop1"},
        {"imgChk", "img0", "img1"},
        {"imgMinMax", "imgDArrow", "imgUpArrow"},
    };
    for (const auto &[face, state, other] : cases) {
        SCOPED_TRACE(std::string(face));
        EXPECT_EQ(builtIn(face), builtIn(state));
        EXPECT_NE(builtIn(state), builtIn(other));
    }
    EXPECT_EQ(builtIn("picMainUp").copy(0, 0, 202, 17), builtIn("picMainDown"));

    const QImage webcam = builtIn("PicTabWebcam"), participant = builtIn("picTabParticipant");
    const auto isPlain = [](const QImage &image, const QRect &area) {
        QImage plain(area.size(), image.format());
        plain.fill(image.pixel(area.topLeft()));
        return image.copy(area) == plain;
    };
    const QRect leftHeader(4, 3, 75, 14);
    for (const QImage *page : {&webcam, &participant}) {
        EXPECT_TRUE(isPlain(*page, QRect(94, 3, 84, 14)));
        EXPECT_FALSE(isPlain(*page, leftHeader)) << "the left header carries its caption";
    }
    EXPECT_NE(webcam.copy(leftHeader), participant.copy(leftHeader));
}

// Neither a file that is no library nor a library damaged inside gives a handle.
TEST(ResourceLibraryTest, UnusableFilesAndDamagedBundlesAreRefused)
{
    QTemporaryDir dir;
    const QByteArray sample = readFile(samplePath);
    ASSERT_TRUE(platform::isWellFormedResourceBundle(sample));
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

    const quint32 tree = qFromBigEndian<quint32>(sample.constData() + 8);
    const quint32 data = qFromBigEndian<quint32>(sample.constData() + 12);
    // Root node: name offset (4), flags (2), child count (4), first child (4).
    const std::tuple<const char *, quint32, quint32> cases[] = {
        {"unknown version", 4, 4},
        {"tree past the end", 8, quint32(sample.size())},
        {"child count wraps", tree + 6, 0xffffffff},
        {"root is its own child", tree + 10, 0},
        {"data length wraps", data, 0xfffffffc},
    };
    for (const auto &[what, offset, value] : cases) {
        QByteArray spoilt = sample;
        qToBigEndian(value, spoilt.data() + offset);
        EXPECT_FALSE(platform::isWellFormedResourceBundle(spoilt)) << what;
    }
}

TEST(ResourceLibraryTest, OpenLibrariesStayApartAndCloseSafely)
{
    const auto full = ResourceLibrary::open(samplePath);
    const auto nobrand = ResourceLibrary::open(nobrandPath);
    const auto fullAgain = ResourceLibrary::open(samplePath);
    ASSERT_TRUE(full && nobrand && fullAgain);
    // Names in the library without a brand never reach a brand elsewhere.
    ASSERT_TRUE(QFile::exists(QStringLiteral(":/WAVE/") + brandName.toUpper()));
    const std::pair<QString, QString> outside[] = {
        {wave, QStringLiteral("../../vedereve-resource-library-%1/WAVE/").arg(full) + brandName},
        {wave, QStringLiteral("../../WAVE/") + brandName},
        {QStringLiteral(".."), brandName},
        {QString(), brandName},
        {wave, QStringLiteral("WAVE\\") + brandName},
        {QStringLiteral("skin"), QStringLiteral("imgBrand.png")},
    };
    for (const auto &[type, name] : outside)
        EXPECT_FALSE(ResourceLibrary::findResource(nobrand, type, name))
            << (type + QLatin1Char('|') + name).toStdString();

    // Closing one copy of a file leaves the other copy and the other library working.
    const auto stale = ResourceLibrary::findResource(full, wave, brandName);
    ASSERT_TRUE(stale);
    EXPECT_TRUE(ResourceLibrary::close(full) && !ResourceLibrary::close(full));
    EXPECT_TRUE(ResourceLibrary::size(*stale) == 0 && ResourceLibrary::bytes(*stale).isEmpty());
    EXPECT_FALSE(ResourceLibrary::findResource(full, wave, brandName));
    const auto kept = ResourceLibrary::findResource(fullAgain, wave, brandName);
    EXPECT_TRUE(kept && !ResourceLibrary::bytes(*kept).isEmpty());
    EXPECT_TRUE(ResourceLibrary::findResource(nobrand, wave, skin::skinResourceName("picMainUp")));

    // A closed handle is not handed out again, so a stale copy cannot reach a newer library.
    const auto next = ResourceLibrary::open(samplePath);
    EXPECT_NE(next, full);
    for (auto library : {next, fullAgain, nobrand})
        ResourceLibrary::close(library);
}

} // namespace
