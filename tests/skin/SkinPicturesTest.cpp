#include "SkinTestSupport.h"

#include "platform/resources/ResourceLibrary.h"

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
    QImage plain(area.size(), image.format());
    plain.fill(image.pixel(area.topLeft()));
    return image.copy(area) == plain;
}

// The panel asks for the mixed-case names; the sample library stores them upper case.
TEST(SkinPicturesTest, BuiltInAndSamplePicturesHaveTheirExactSizes)
{
    const auto library = platform::ResourceLibrary::open(sampleSkinFile("sample-skin.rcc"));
    ASSERT_NE(library, 0u);
    std::set<std::string_view> names;
    for (const skin::SkinPicture &picture : skin::skinPictures) {
        SCOPED_TRACE(std::string(picture.name));
        EXPECT_TRUE(names.insert(picture.name).second) << "listed twice";
        const QSize size(picture.width, picture.height);
        EXPECT_EQ(builtIn(picture.name).size(), size);
        const auto resource = platform::ResourceLibrary::findResource(
            library, QStringLiteral("wAvE"), skin::skinResourceName(picture.name));
        ASSERT_TRUE(resource.has_value());
        const QByteArray bytes = platform::ResourceLibrary::bytes(*resource);
        EXPECT_EQ(platform::ResourceLibrary::size(*resource), bytes.size());
        const QImage sample = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(sample.size(), size);
        EXPECT_NE(sample, builtIn(picture.name)) << "sample skin repeats the built-in picture";
    }
    platform::ResourceLibrary::close(library);
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

} // namespace
