#include "SkinTestSupport.h"

#include "platform/resources/ResourceLibrary.h"
#include "skin/SkinPictures.h"

#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <set>

namespace {

QImage builtIn(std::string_view name)
{
    return QImage(skin::builtInSkinPath(name)).convertToFormat(QImage::Format_RGB32);
}

class SkinPicturesTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { initBuiltInSkin(); }
};

bool isPlain(const QImage &image, const QRect &area)
{
    const QRgb first = image.pixel(area.topLeft());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}

TEST_F(SkinPicturesTest, EveryBuiltInPictureHasItsExactSize)
{
    std::set<std::string_view> names;
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        SCOPED_TRACE(std::string(picture.name));
        EXPECT_TRUE(names.insert(picture.name).second) << "listed twice";
        const QImage image = builtIn(picture.name);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(picture.width, picture.height));
    }
}

// Controls that start out showing one of the stored states must look exactly like that state,
// or the first state change would visibly jump.
TEST_F(SkinPicturesTest, InitialFacesEqualTheirStoredStates)
{
    const std::pair<std::string_view, std::string_view> pairs[] = {
        {"imgCamOnMain", "ImgCamOn0"},
        {"imgCamOffMain", "imgCamStop0"},
        {"imgChk", "img0"},
        {"imgMinMax", "imgDArrow"},
    };
    for (const auto &[face, state] : pairs) {
        SCOPED_TRACE(std::string(face));
        EXPECT_EQ(builtIn(face), builtIn(state));
    }
    // The states themselves must be told apart.
    EXPECT_NE(builtIn("img0"), builtIn("img1"));
    EXPECT_NE(builtIn("ImgCamOn0"), builtIn("ImgCamOn1"));
    EXPECT_NE(builtIn("imgCamStop0"), builtIn("imgCamStop1"));
    EXPECT_NE(builtIn("imgUpArrow"), builtIn("imgDArrow"));
}

// Collapsing swaps the full background for the strip picture; the strip must not change.
TEST_F(SkinPicturesTest, CollapsedStripMatchesTopOfFullPanel)
{
    const QImage full = builtIn("picMainUp");
    const QImage strip = builtIn("picMainDown");
    EXPECT_EQ(full.copy(0, 0, 202, 17), strip);
}

TEST_F(SkinPicturesTest, TabHeadersLeaveTheNameLabelAreaPlain)
{
    const QImage webcam = builtIn("PicTabWebcam");
    const QImage participant = builtIn("picTabParticipant");
    const QRect nameArea(94, 3, 177 - 94 + 1, 16 - 3 + 1);
    const QRect webcamHeader(4, 3, 78 - 4 + 1, 16 - 3 + 1);
    for (const QImage *page : {&webcam, &participant}) {
        EXPECT_TRUE(isPlain(*page, nameArea));
        EXPECT_FALSE(isPlain(*page, webcamHeader)) << "the left header carries its caption";
    }
    // Which header is active must show, in the left header and in the page as a whole.
    EXPECT_NE(webcam.copy(webcamHeader), participant.copy(webcamHeader));
}

TEST_F(SkinPicturesTest, SampleLibraryPicturesFitAndDifferFromBuiltIn)
{
    const auto library = platform::ResourceLibrary::open(sampleSkinFile("sample-skin.rcc"));
    ASSERT_NE(library, 0u);
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        SCOPED_TRACE(std::string(picture.name));
        const auto resource = platform::ResourceLibrary::findResource(
            library, toQString(skin::skinResourceType), skin::skinResourceName(picture.name));
        ASSERT_TRUE(resource.has_value());
        const QImage image = QImage::fromData(platform::ResourceLibrary::bytes(*resource))
                                 .convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(picture.width, picture.height));
        EXPECT_NE(image, builtIn(picture.name)) << "sample skin repeats the built-in picture";
    }
    platform::ResourceLibrary::close(library);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
