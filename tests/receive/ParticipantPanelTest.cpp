// Participant pictures handed over as a parent does, shown one per queue tick.

#include <cstring>

#include "panel/PanelDriver.h"
#include "platform/shm/HandleTable.h"
#include "receive/ParticipantBlocks.h"

namespace {

using namespace recvtest;

constexpr QRgb kRed = qRgb(230, 20, 20);
constexpr QRgb kBlue = qRgb(20, 20, 230);
constexpr QRgb kWhite = qRgb(255, 255, 255);
const std::string kHeaderTrace = "WebCam UpdateParticipantNow - Preparing to copy image header\n"
                                 "WebCam UpdateParticipantNow - Image header copied\n";
const std::string kDataTrace = kHeaderTrace
    + "WebCam UpdateParticipantNow - Preparing to copy image data\n"
      "WebCam UpdateParticipantNow - Image data copied\n";
const std::string kShownTrace = kDataTrace + "WebCam UpdateParticipantNow Exit\n";

class ParticipantPanel : public paneltest::PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        start(0);
        openBefore = {platform::shm::openHandleCount(), platform::shm::openViewCount()};
    }
    void TearDown() override
    {
        // Every queued block is closed once shown, whichever way its routine ended.
        EXPECT_EQ(view->queueLength(), 0u);
        EXPECT_EQ(std::pair(platform::shm::openHandleCount(), platform::shm::openViewCount()),
                  openBefore);
        PanelTest::TearDown();
    }
    QImage shown() const { return view->box("picParticipant")->Image(); }
    QRgb at(int x, int y) const { return shown().pixel(x, y); }
    std::pair<std::size_t, std::size_t> openBefore;
};

TEST_F(ParticipantPanel, BitmapsAreCentredOrClippedAndWipeTheLastOneAndFilesSitAtTheTopLeft)
{
    // Red over blue; the larger picture first, so the smaller one's margins show the wipe.
    handOver(rawBlock(twoBandPicture(320, 240, kRed, kBlue)));
    EXPECT_TRUE(at(0, 0) == kRed && at(173, 143) == kBlue);
    handOver(rawBlock(twoBandPicture(120, 120, kRed, kBlue)));
    const std::tuple<int, int, QRgb> spots[]
        = {{28, 12, kRed},   {147, 12, kRed},  {28, 131, kBlue},   {147, 131, kBlue},
           {27, 12, kWhite}, {28, 11, kWhite}, {148, 131, kWhite}, {28, 132, kWhite}};
    for (const auto &[x, y, colour] : spots)
        EXPECT_EQ(at(x, y), colour) << x << "," << y;
    // The drawing is the box's picture now, so it survives a redraw.
    EXPECT_EQ(view->box("picParticipant")->Picture().pixel(147, 131), kBlue);

    // A picture file sits at the top left over the white box, never expanded: 8 x 8 red, its 2 x 2
    // corners transparent black.
    QImage file(8, 8, QImage::Format_ARGB32);
    file.fill(kRed);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if ((x < 2 || x > 5) && (y < 2 || y > 5))
                file.setPixel(x, y, 0);
    panel->Maximize(); // no news on the strip while the panel is expanded
    // An OrigSize that matches nothing: a picture file is never expanded.
    handOver(blockBytes({12345, 60, 40, 2}, pictureFile(file, "PNG")), " Bo ", " Rome ");
    EXPECT_EQ(view->box("picParticipant")->Picture().size(), QSize(8, 8));
    for (const QPoint p : {QPoint(0, 0), QPoint(7, 0), QPoint(0, 7), QPoint(7, 7), QPoint(8, 2)})
        EXPECT_EQ(at(p.x(), p.y()), kWhite) << p.x() << "," << p.y();
    EXPECT_EQ(at(2, 0), kRed);
    EXPECT_TRUE(caption("lblParticipant") == "Bo" && caption("lblStatus").isEmpty());

    // An unreadable file leaves the box without a picture; the labels still follow.
    handOver(fileBlock(Bytes(200, 0x33)), "Cy", "Nice");
    EXPECT_FALSE(view->box("picParticipant")->hasPicture());
    EXPECT_TRUE(at(2, 0) == kWhite && caption("lblParticipant") == "Cy");
}

TEST_F(ParticipantPanel, UnusableBlocksAreDroppedOrOnlyRelabelledAndTraceHowFarTheyGot)
{
    const Bytes bits = bottomUpBgr(twoBandPicture(20, 20, kBlue, kBlue));
    const Bytes packed = zlibCompress(bits), data(64, 0x55), one = {0x5a};
    const auto size = std::int32_t(bits.size());
    // A raw 20 x 20 block with one field changed.
    const auto spoilt = [&](auto BlockFields::*field, auto value) {
        BlockFields fields {size, 20, 20, 1};
        fields.*field = value;
        return blockBytes(fields, packed);
    };
    const Bytes jpeg = pictureFile(twoBandPicture(8, 8, kRed, kRed));
    const Bytes cutJpeg(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
    // A block whose data expands to plain: width, height, format, bits per pixel.
    const auto block = [](std::int32_t w, std::int32_t h, std::uint8_t format, std::uint8_t bpp,
                          const Bytes &plain) {
        const Bytes sent = format == 3 ? plain : zlibCompress(plain);
        return blockBytes({std::int32_t(plain.size()), w, h, format, 8, bpp}, sent);
    };
    const std::string failed = kDataTrace + "WebCam DecompressData failed\n";
    const std::string cut = kHeaderTrace.substr(0, kHeaderTrace.find('\n') + 1);
    // The trace shows how far each got; the last column: whether the names follow.
    const std::tuple<const char *, Bytes, std::string, bool> cases[]
        = {{"header cut short", Bytes(10, 0x20), cut, false},
           {"white board destination", spoilt(&BlockFields::Destination, 24), kHeaderTrace, false},
           {"marker 33", spoilt(&BlockFields::Marker, 33), kHeaderTrace, false},
           {"data length past the end",
            spoilt(&BlockFields::claimedLength, std::int64_t(packed.size()) + 5000), kHeaderTrace,
            false},
           {"negative data length", spoilt(&BlockFields::claimedLength, 0xfffffff0), kHeaderTrace,
            false},
           {"one byte short", blockBytes({size + 1, 20, 20, 1}, packed), kDataTrace, false},
           {"jpeg one byte short", blockBytes({size + 1, 20, 20, 123}, packed), kDataTrace, false},
           {"far over", blockBytes({size / 2, 20, 20, 1}, packed), failed, false},
           {"huge OrigSize", blockBytes({0x7ffffff0, 20, 20, 1}, packed), kDataTrace, false},
           {"negative OrigSize", blockBytes({-24, 20, 20, 123}, packed), kDataTrace, false},
           {"file of one byte", blockBytes({1, 1, 1, 2}, one), kShownTrace, false},
           {"raw of one byte", block(1, 1, 1, 24, one), kShownTrace, false},
           {"stored only", block(4, 4, 3, 24, data), kShownTrace, true},
           {"unknown format", block(4, 4, 50, 24, data), kShownTrace, true},
           {"zero width", block(0, 4, 1, 24, data), kShownTrace, true},
           {"width above the limit", block(participant::kMaxPictureSide + 1, 1, 1, 24, data),
            kShownTrace, true},
           {"bitmap above the memory limit", block(16384, 16384, 1, 24, data), kShownTrace, true},
           {"unsupported bit count", block(4, 4, 1, 7, data), kShownTrace, true},
           {"not a JPEG stream", block(4, 4, 123, 24, data), kShownTrace, true},
           {"truncated JPEG stream", block(8, 8, 123, 24, cutJpeg), kShownTrace, true}};
    DebugTrace::setDebugFlag(true);
    for (const auto &[name, bytes, trace, relabelled] : cases) {
        SCOPED_TRACE(name);
        handOver(rawBlock(twoBandPicture(20, 20, kRed, kRed)), "First", "Here");
        const QImage first = shown();
        panel->Maximize(); // expanding clears the strip's status text
        panel->Minimize();
        platform::TraceSink::startCapture();
        handOver(bytes, "  \tSecond ", " There "); // names lose spaces, and only spaces
        EXPECT_EQ(shown(), first);
        EXPECT_EQ(platform::TraceSink::captured(), trace);
        EXPECT_EQ(
            QStringList({caption("lblStatus"), caption("lblParticipant"), caption("lblLocation")}),
            QStringList({trace == kShownTrace ? "[ New Image ]" : "",
                         relabelled ? "\tSecond" : "First", relabelled ? "There" : "Here"}));
    }

    // The next stream decodes at its own size, from a block longer than its header says.
    Bytes good = jpegBlock(twoBandPicture(40, 30, kBlue, kBlue));
    good.resize(good.size() + 3000, 0xee);
    platform::TraceSink::startCapture();
    handOver(good);
    EXPECT_EQ(platform::TraceSink::captured(), kShownTrace);
    EXPECT_TRUE(qBlue(at(68, 57)) > 180 && qBlue(at(107, 86)) > 180 && at(67, 57) == kWhite);
}

TEST_F(ParticipantPanel, NameOfAnotherLengthSwitchesBackToTheParticipantTab)
{
    // Raw lengths count, not trimmed ones.
    for (const auto &[incoming, tabAfter] : {std::pair {"Annabel", 0}, {"Bob", 1}, {" Ann ", 0}}) {
        panel->setCurrentTab(0);
        handOver(fileBlock(Bytes(30, 0x01)), "Ann", "Lima");
        panel->setCurrentTab(1);
        ASSERT_TRUE(view->label("lblLocation")->isHidden()) << incoming;
        handOver(fileBlock(Bytes(30, 0x01)), incoming, "Lima");
        EXPECT_EQ(panel->CurrentTab(), tabAfter) << incoming;
        EXPECT_EQ(view->label("lblLocation")->isHidden(), tabAfter == 1) << incoming;
    }
}

TEST_F(ParticipantPanel, FaultInsideADecoderDropsThatPictureOnlyAndLeavesNothingBehind)
{
    // A picture file that the faulting reader of the test plugin takes: its decoder faults.
    QCoreApplication::addLibraryPath(QStringLiteral(FAULT_PLUGIN_PATH));
    const auto faultingPicture = [](std::size_t size) {
        Bytes file(size, 0x42);
        std::memcpy(file.data(), "FAULTPIC", 8);
        return fileBlock(file);
    };
    handOver(rawBlock(twoBandPicture(20, 20, kRed, kRed)));
    const QImage first = shown();
    platform::TraceSink::startCapture();
    handOver(faultingPicture(4096), "Faulty", "Oslo", false);
    handOver(rawBlock(twoBandPicture(16, 16, kBlue, kBlue)), "Good", "Oslo", false);
    EXPECT_TRUE(view->tmrQueue().Enabled());
    view->tickQueue();
    EXPECT_TRUE(shown() == first && caption("lblParticipant") == "Ann");
    EXPECT_NE(platform::TraceSink::captured().find(
                  "WebCam Exception encountered: -2147220991 Ecode:-1073741819\n"),
              std::string::npos);
    // The picture queued behind it still comes, on the next tick, and the queue rests after it.
    EXPECT_TRUE(view->tmrQueue().Enabled());
    view->tickQueue();
    EXPECT_TRUE(caption("lblParticipant") == "Good" && at(88, 72) == kBlue);
    EXPECT_FALSE(view->tmrQueue().Enabled());
    // Nothing a fault skips over stays allocated (a megabyte a picture would be 100 MB).
    const long before = paneltest::residentBytes();
    for (int i = 0; i < 100; ++i)
        handOver(faultingPicture(1 << 20));
    EXPECT_LT(paneltest::residentBytes() - before, 16L << 20);
}

} // namespace
