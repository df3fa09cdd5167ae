#include "SkinTestSupport.h"

#include "platform/resources/ResourceLibrary.h"

#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <set>

namespace {

QImage builtIn(std::string_view name)
{
    return QImage(skin::builtInSkinPath(name)).convertToFormat(QImage::Format_RGB32);
}

bool isPlain(const QImage &image, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != image.pixel(area.topLeft()))
                return false;
        }
    }
    return true;
}

TEST(SkinPicturesTest, EveryBuiltInPictureHasItsExactSize)
{
    std::set<std::string_view> names;
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        SCOPED_TRACE(std::string(picture.name));
        EXPECT_TRUE(names.insert(picture.name).second) << "listed twice";
        EXPECT_EQ(builtIn(picture.name).size(), QSize(picture.width, picture.height));
    }
}

// A control first showing one of its stored states must look exactly like it, or the first state
// change visibly jumps; the states themselves must differ.
TEST(SkinPicturesTest, InitialFacesEqualTheirStoredStates)
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
    // Collapsing swaps the full background for the strip: the strip must not change.
    EXPECT_EQ(builtIn("picMainUp").copy(0, 0, 202, 17), builtIn("picMainDown"));
}

TEST(SkinPicturesTest, TabHeadersLeaveTheNameLabelAreaPlain)
{
    const QImage webcam = builtIn("PicTabWebcam");
    const QImage participant = builtIn("picTabParticipant");
    const QRect leftHeader(4, 3, 75, 14);
    for (const QImage *page : {&webcam, &participant}) {
        EXPECT_TRUE(isPlain(*page, QRect(94, 3, 84, 14)));
        EXPECT_FALSE(isPlain(*page, leftHeader)) << "the left header carries its caption";
    }
    EXPECT_NE(webcam.copy(leftHeader), participant.copy(leftHeader));
}

// The panel asks for the mixed-case names; the bundle stores them upper case.
TEST(SkinPicturesTest, SampleLibraryHoldsEveryPictureAtItsSize)
{
    const auto library = platform::ResourceLibrary::open(sampleSkinFile("sample-skin.rcc"));
    ASSERT_NE(library, 0u);
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        SCOPED_TRACE(std::string(picture.name));
        const auto resource = platform::ResourceLibrary::findResource(
            library, QStringLiteral("wAvE"), skin::skinResourceName(picture.name));
        ASSERT_TRUE(resource.has_value());
        const QByteArray bytes = platform::ResourceLibrary::bytes(*resource);
        EXPECT_EQ(platform::ResourceLibrary::size(*resource), bytes.size());
        const QImage image = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(image.size(), QSize(picture.width, picture.height));
        EXPECT_NE(image, builtIn(picture.name)) << "sample skin repeats the built-in picture";
    }
    platform::ResourceLibrary::close(library);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    initBuiltInSkin();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
