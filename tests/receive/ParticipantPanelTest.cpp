#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <memory>
#include <string>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "base/DebugTrace.h"
#include "panel/cveDerEve.h"
#include "platform/core/TraceSink.h"
#include "platform/shm/HandleTable.h"
#include "receive/ParticipantBlocks.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>

#include "support/PanelTestAccess.h"
#include <unistd.h>

namespace {

using recvtest::BlockFields;
using recvtest::Bytes;
namespace mm = modImageMemMapFunctions;

constexpr QRgb kRed = qRgb(230, 20, 20);
constexpr QRgb kBlue = qRgb(20, 20, 230);
constexpr QRgb kWhite = qRgb(255, 255, 255);
const std::string kHeaderTrace = "WebCam UpdateParticipantNow - Preparing to copy image header\n"
                                 "WebCam UpdateParticipantNow - Image header copied\n";
const std::string kDataTrace = kHeaderTrace
    + "WebCam UpdateParticipantNow - Preparing to copy image data\n"
      "WebCam UpdateParticipantNow - Image data copied\n";

// Entries of /dev/shm holding image blocks of this test's namespace.
int imageBlocksInShm()
{
    const std::string stem = std::string(qgetenv("VEDEREVE_SHM_PREFIX")).substr(1) + "DADevev";
    int count = 0;
    if (DIR *dir = ::opendir("/dev/shm")) {
        while (const dirent *entry = ::readdir(dir))
            count += std::string_view(entry->d_name).starts_with(stem) ? 1 : 0;
        ::closedir(dir);
    }
    return count;
}

Bytes rawOf(int side, QRgb colour)
{
    return recvtest::rawBlock(recvtest::twoBandPicture(side, side, colour, colour));
}

class ParticipantPanel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        object = std::make_unique<zozEZUdeZid>();
        panel = object->form()->WebCam();
        handlesBefore = platform::shm::openHandleCount();
        viewsBefore = platform::shm::openViewCount();
    }
    void TearDown() override
    {
        DebugTrace::setDebugFlag(false);
        platform::TraceSink::stopCapture();
        // Every queued block is closed once shown, whichever way its routine ended.
        EXPECT_TRUE((PanelTestAccess(panel).queueLength() == 0));
        EXPECT_EQ(platform::shm::openHandleCount(), handlesBefore);
        EXPECT_EQ(platform::shm::openViewCount(), viewsBefore);
        object.reset();
        EXPECT_EQ(imageBlocksInShm(), 0);
    }

    // The parent's side of one picture: write the block, call UpdateParticipant, close its own
    // handle as soon as the call returns; the panel's handle keeps the block until it is shown.
    void send(const Bytes &bytes, const QString &name = "Ann Lee", const QString &location = "Oslo")
    {
        const mm::ImageBlock block = mm::ImageBlock::create(++number, std::int64_t(bytes.size()));
        ASSERT_TRUE(block);
        std::memcpy(block.MapView(), bytes.data(), bytes.size());
        object->UpdateParticipant(number, name, location);
    }
    void tick() { PanelTestAccess(panel).tickQueue(); }
    void show(const Bytes &bytes, const QString &name = "Ann Lee", const QString &location = "Oslo")
    {
        send(bytes, name, location);
        tick();
    }
    void showFirst()
    {
        show(rawOf(20, kRed), "First", "Here");
        first = PanelTestAccess(panel).box("picParticipant")->Image();
    }
    // After showFirst(): a block that drops without touching the box or the labels.
    void expectIgnored(const Bytes &bytes, const char *what)
    {
        show(bytes, "Second", "There");
        EXPECT_EQ(PanelTestAccess(panel).box("picParticipant")->Image(), first) << what;
        EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), "First") << what;
        EXPECT_EQ(PanelTestAccess(panel).label("lblLocation")->Caption(), "Here") << what;
    }

    // Expanding clears the strip's status text; the parent's minimise leaves it empty.
    void clearStatus()
    {
        panel->Maximize();
        panel->Minimize();
    }

    QRgb at(int x, int y) const
    {
        return PanelTestAccess(panel).box("picParticipant")->Image().pixel(x, y);
    }
    // Within the losses of a JPEG round trip.
    bool near(QPoint p, QRgb b) const
    {
        const QRgb a = at(p.x(), p.y());
        return std::abs(qRed(a) - qRed(b)) < 40 && std::abs(qGreen(a) - qGreen(b)) < 40
            && std::abs(qBlue(a) - qBlue(b)) < 40;
    }

    std::unique_ptr<zozEZUdeZid> object;
    cveDerEve *panel = nullptr;
    std::int32_t number = 7000;
    QImage first;
    std::size_t handlesBefore = 0;
    std::size_t viewsBefore = 0;
};

TEST_F(ParticipantPanel, BitmapsAreCentredInTheAreaOrClippedAtTheBox)
{
    struct Case
    {
        const char *name;
        bool jpeg;
        int width, height;
        QPoint at;
    };
    const Case cases[] = {
        {"raw 160x120", false, 160, 120, {8, 12}},
        {"jpeg 160x120", true, 160, 120, {8, 12}},
        {"raw 175x143", false, 175, 143, {0, 0}},
        {"jpeg 320x240", true, 320, 240, {0, 0}},
    };
    const QSize box = PanelTestAccess(panel).box("picParticipant")->Image().size();
    for (const Case &c : cases) {
        const QImage picture = recvtest::twoBandPicture(c.width, c.height, kRed, kBlue);
        show(c.jpeg ? recvtest::jpegBlock(picture) : recvtest::rawBlock(picture));
        const QPoint last(std::min(c.at.x() + c.width, box.width()) - 1,
                          std::min(c.at.y() + c.height, box.height()) - 1);
        EXPECT_TRUE(near(c.at, kRed) && near({last.x(), c.at.y()}, kRed)) << c.name;
        EXPECT_TRUE(near(last, kBlue) && near({c.at.x(), last.y()}, kBlue)) << c.name;
        // The rest of the box is wiped to its back colour, not left from the last picture.
        if (c.at.x() > 0) {
            EXPECT_EQ(at(c.at.x() - 1, c.at.y()), kWhite) << c.name;
            EXPECT_EQ(at(c.at.x(), c.at.y() - 1), kWhite) << c.name;
            EXPECT_EQ(at(c.at.x(), last.y() + 1), kWhite) << c.name;
        }
        // The drawing is the box's picture now, so it survives a redraw.
        EXPECT_EQ(PanelTestAccess(panel).box("picParticipant")->Picture().pixel(c.at),
                  at(c.at.x(), c.at.y()))
            << c.name;
    }
}

TEST_F(ParticipantPanel, PictureFileIsShownAtTheTopLeftWithoutExpansion)
{
    const Bytes jpeg = recvtest::pictureFile(recvtest::twoBandPicture(60, 40, kRed, kBlue));
    // OrigSize that matches nothing: a picture file is never expanded.
    show(recvtest::blockBytes({12345, 60, 40, 2}, jpeg), " Bo ", " Rome ");
    EXPECT_EQ(PanelTestAccess(panel).box("picParticipant")->Picture().size(), QSize(60, 40));
    EXPECT_TRUE(near({0, 0}, kRed) && near({59, 39}, kBlue));
    EXPECT_EQ(at(60, 0), kWhite);
    EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), "Bo");
    EXPECT_EQ(PanelTestAccess(panel).label("lblLocation")->Caption(), "Rome");

    // An unreadable file leaves the box without a picture; the labels still follow.
    show(recvtest::fileBlock(Bytes(200, 0x33)), "Cy", "Nice");
    EXPECT_FALSE(PanelTestAccess(panel).box("picParticipant")->hasPicture());
    EXPECT_EQ(at(0, 0), kWhite);
    EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), "Cy");
}

TEST_F(ParticipantPanel, TransparentPartsOfPictureFilesShowTheWhiteBox)
{
    // 8 x 8 red, the 2 x 2 squares in its corners transparent; their own colour is black.
    std::vector<std::uint8_t> index(64, 1);
    QImage withAlpha(8, 8, QImage::Format_ARGB32);
    withAlpha.fill(kRed);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            if ((x < 2 || x > 5) && (y < 2 || y > 5)) {
                index[std::size_t(y) * 8 + std::size_t(x)] = 0;
                withAlpha.setPixel(x, y, qRgba(0, 0, 0, 0));
            }
        }
    }
    const std::pair<const char *, Bytes> cases[] = {
        {"GIF", testpic::gifFile(8, 8, {qRgb(0, 0, 0), kRed}, index, 0)},
        {"PNG", recvtest::pictureFile(withAlpha, "PNG")},
    };
    for (const auto &[what, file] : cases) {
        show(recvtest::fileBlock(file));
        for (const QPoint corner : {QPoint(0, 0), QPoint(7, 0), QPoint(0, 7), QPoint(7, 7)})
            EXPECT_EQ(at(corner.x(), corner.y()), kWhite)
                << what << " at " << corner.x() << "," << corner.y();
        EXPECT_EQ(at(4, 4), kRed) << what;
        EXPECT_EQ(at(2, 0), kRed) << what;
    }
}

TEST_F(ParticipantPanel, BlocksForAnotherPlaceOrWithoutMarkerChangeNothing)
{
    showFirst();
    clearStatus();
    const Bytes bits = recvtest::bottomUpBgr(recvtest::twoBandPicture(20, 20, kBlue, kBlue));
    const Bytes packed = recvtest::zlibCompress(bits);
    const std::uint8_t cases[][2] = {{24, 32}, {40, 32}, {8, 0}, {8, 33}}; // destination, marker
    for (const auto &[destination, marker] : cases) {
        const std::string what = std::to_string(destination) + "/" + std::to_string(marker);
        BlockFields fields {std::int32_t(bits.size()), 20, 20, 1};
        fields.Destination = destination;
        fields.Marker = marker;
        DebugTrace::setDebugFlag(true);
        platform::TraceSink::startCapture();
        expectIgnored(recvtest::blockBytes(fields, packed), what.c_str());
        EXPECT_EQ(PanelTestAccess(panel).label("lblStatus")->Caption(), "") << what;
        EXPECT_EQ(platform::TraceSink::captured(), kHeaderTrace) << what;
    }
}

TEST_F(ParticipantPanel, StreamsThatDoNotExpandToOrigSizeAreDropped)
{
    showFirst();
    const Bytes bits = recvtest::bottomUpBgr(recvtest::twoBandPicture(20, 20, kBlue, kBlue));
    const Bytes packed = recvtest::zlibCompress(bits);
    const std::int32_t size = std::int32_t(bits.size());
    Bytes corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0xff;
    corrupt.back() ^= 0xff; // the checksum too, so the damage cannot go unnoticed
    struct Case
    {
        const char *name;
        std::uint8_t format;
        std::int32_t origSize;
        const Bytes &data;
        bool traced;
    };
    const Case cases[] = {
        {"one byte short", 1, size + 1, packed, false},
        {"far over", 1, size / 2, packed, true},
        {"corrupt", 1, size, corrupt, true},
        {"jpeg one byte short", 123, size + 1, packed, false},
        {"unknown format corrupt", 77, size, corrupt, true},
    };
    DebugTrace::setDebugFlag(true);
    for (const Case &c : cases) {
        platform::TraceSink::startCapture();
        expectIgnored(recvtest::blockBytes({c.origSize, 20, 20, c.format}, c.data), c.name);
        EXPECT_EQ(platform::TraceSink::captured(),
                  kDataTrace + (c.traced ? "WebCam DecompressData failed\n" : ""))
            << c.name;
    }

    // The same path with a good stream: it gets through and says so.
    platform::TraceSink::startCapture();
    show(recvtest::blockBytes({size, 20, 20, 1}, packed), "Second", "There");
    EXPECT_EQ(platform::TraceSink::captured(), kDataTrace + "WebCam UpdateParticipantNow Exit\n");
    EXPECT_EQ(at(78, 62), kBlue);
}

TEST_F(ParticipantPanel, BlocksThatLieAboutTheirSizeAreHandledSafely)
{
    showFirst();
    const Bytes jpeg = recvtest::pictureFile(recvtest::twoBandPicture(60, 40, kBlue, kBlue));
    BlockFields longer {std::int32_t(jpeg.size()), 60, 40, 2};
    longer.claimedLength = std::int64_t(jpeg.size()) + 5000;
    BlockFields negative = longer;
    negative.claimedLength = 0xfffffff0;
    const std::pair<const char *, Bytes> cases[] = {
        {"data length past the end", recvtest::blockBytes(longer, jpeg)},
        {"negative data length", recvtest::blockBytes(negative, jpeg)},
        {"header cut short", Bytes(10, 0x20)},
        {"huge OrigSize", recvtest::blockBytes({0x7ffffff0, 60, 40, 1}, jpeg)},
        {"negative OrigSize", recvtest::blockBytes({-24, 60, 40, 123}, jpeg)},
    };
    for (const auto &[what, bytes] : cases)
        expectIgnored(bytes, what);

    // A block larger than its header says is fine: the data part ends where the header says.
    Bytes padded = recvtest::fileBlock(jpeg);
    padded.resize(padded.size() + 3000, 0xee);
    show(padded, "Third", "Far");
    EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), "Third");
    EXPECT_TRUE(near({0, 0}, kBlue));
}

TEST_F(ParticipantPanel, SingleByteDataSkipsDrawingAndNames)
{
    showFirst();
    const Bytes one = {0x5a};
    const std::pair<const char *, Bytes> cases[] = {
        {"picture file of one byte", recvtest::blockBytes({1, 1, 1, 2}, one)},
        {"raw expanding to one byte",
         recvtest::blockBytes({1, 1, 1, 1}, recvtest::zlibCompress(one))},
        {"format 3 of one byte", recvtest::blockBytes({1, 1, 1, 3}, one)},
    };
    for (const auto &[what, bytes] : cases) {
        clearStatus();
        expectIgnored(bytes, what);
        EXPECT_EQ(PanelTestAccess(panel).label("lblStatus")->Caption(), "[ New Image ]") << what;
    }
}

TEST_F(ParticipantPanel, NotDrawnFormatsUpdateOnlyTheLabels)
{
    showFirst();
    const Bytes data(40, 0x11);
    const std::pair<const char *, Bytes> cases[] = {
        {"format 3", recvtest::blockBytes({999, 20, 20, 3}, data)},
        {"unknown format", recvtest::blockBytes({40, 20, 20, 50}, recvtest::zlibCompress(data))},
    };
    for (const auto &[what, bytes] : cases) {
        show(bytes, QString("  %1 ").arg(QString::fromLatin1(what)), " Place ");
        EXPECT_EQ(PanelTestAccess(panel).box("picParticipant")->Image(), first) << what;
        EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), what);
        EXPECT_EQ(PanelTestAccess(panel).label("lblLocation")->Caption(), "Place") << what;
    }
}

TEST_F(ParticipantPanel, NewImageStatusOnlyWhileMinimised)
{
    const Bytes block = rawOf(8, kRed);
    ASSERT_EQ(PanelTestAccess(panel).label("lblStatus")->Caption(), "");
    show(block);
    EXPECT_EQ(PanelTestAccess(panel).label("lblStatus")->Caption(), "[ New Image ]");

    panel->Maximize();
    ASSERT_TRUE(panel->Maximized());
    show(block);
    EXPECT_EQ(PanelTestAccess(panel).label("lblStatus")->Caption(), "");

    panel->Minimize();
    show(block);
    EXPECT_EQ(PanelTestAccess(panel).label("lblStatus")->Caption(), "[ New Image ]");
}

TEST_F(ParticipantPanel, NameOfAnotherLengthSwitchesBackToTheParticipantTab)
{
    const struct
    {
        const char *incoming;
        std::int32_t tabAfter;
    } cases[] = {{"Annabel", 0}, {"Bob", 1}, {" Ann ", 0}}; // raw lengths count, not trimmed ones
    for (const auto &c : cases) {
        panel->setCurrentTab(0);
        show(recvtest::fileBlock(Bytes(30, 0x01)), "Ann", "Lima");
        panel->setCurrentTab(1);
        ASSERT_TRUE(PanelTestAccess(panel).label("lblLocation")->isHidden()) << c.incoming;
        show(recvtest::fileBlock(Bytes(30, 0x01)), c.incoming, "Lima");
        EXPECT_EQ(panel->CurrentTab(), c.tabAfter) << c.incoming;
        EXPECT_EQ(PanelTestAccess(panel).label("lblLocation")->isHidden(), c.tabAfter == 1)
            << c.incoming;
        EXPECT_EQ(PanelTestAccess(panel).label("lblLocation")->Caption(), "Lima") << c.incoming;
    }
}

TEST_F(ParticipantPanel, BurstIsShownInOrderOnePerTick)
{
    const QRgb colours[] = {kRed, kBlue, qRgb(20, 200, 20)};
    const char *names[] = {"One", "Two", "Three"};
    for (int i = 0; i < 3; ++i)
        send(rawOf(16, colours[i]), names[i], "Here");
    EXPECT_EQ(PanelTestAccess(panel).queueLength(), 3u);
    EXPECT_TRUE(PanelTestAccess(panel).tmrQueue().Enabled());
    // The parent's handles are gone: the queued handles alone keep the blocks.
    EXPECT_EQ(imageBlocksInShm(), 0);

    for (int i = 0; i < 3; ++i) {
        tick();
        EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), names[i]);
        EXPECT_EQ(at(80, 64), colours[i]);
        EXPECT_EQ(PanelTestAccess(panel).queueLength(), std::size_t(2 - i));
        EXPECT_EQ(PanelTestAccess(panel).tmrQueue().Enabled(), i < 2);
    }
    tick(); // on an empty queue: nothing
    EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), "Three");
}

// A picture file that the faulting image reader of the test plugin takes: its decoder faults.
Bytes faultingPicture(std::size_t size)
{
    Bytes file(size, 0x42);
    std::memcpy(file.data(), "FAULTPIC", 8);
    return recvtest::fileBlock(file);
}

long residentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * ::sysconf(_SC_PAGESIZE);
}

TEST_F(ParticipantPanel, FaultInsideADecoderDropsThatPictureOnlyAndTheQueueGoesOn)
{
    QCoreApplication::addLibraryPath(QStringLiteral(FAULT_PLUGIN_PATH));
    showFirst();
    DebugTrace::setDebugFlag(true);
    platform::TraceSink::startCapture();
    // A burst: the faulting picture and a good one behind it.
    send(faultingPicture(4096), "Faulty", "Nowhere");
    send(rawOf(16, kBlue), "Good", "Here");
    tick();
    // Dropped: no drawing, no labels; the exception line says why; the next one still waits.
    EXPECT_EQ(PanelTestAccess(panel).box("picParticipant")->Image(), first);
    EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), "First");
    EXPECT_NE(platform::TraceSink::captured().find(
                  "WebCam Exception encountered: -2147220991 Ecode:-1073741819\n"),
              std::string::npos);
    EXPECT_TRUE(PanelTestAccess(panel).tmrQueue().Enabled());
    tick();
    EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(), "Good");
    EXPECT_EQ(at(80, 64), kBlue);
}

TEST_F(ParticipantPanel, FaultingDecodersLeaveNoMemoryBehind)
{
    QCoreApplication::addLibraryPath(QStringLiteral(FAULT_PLUGIN_PATH));
    // Warm up whatever the first fault allocates once (plugin loading, caches).
    show(faultingPicture(1 << 20));
    const long before = residentBytes();
    for (int i = 0; i < 100; ++i)
        show(faultingPicture(1 << 20));
    // A megabyte per picture would be 100 MB; the bound leaves room for the allocator's moods.
    EXPECT_LT(residentBytes() - before, 16L << 20);
}

TEST_F(ParticipantPanel, FloodKeepsTheNewestPicturesWithinBoundedDescriptors)
{
    const int descriptorsBefore = testenv::openDescriptorCount();
    constexpr int kPictures = 2000;
    for (int i = 1; i <= kPictures; ++i)
        send(rawOf(8, i == kPictures ? kBlue : kRed), QString::number(i), "Flood");
    // The queue holds a bounded number of blocks open, not one per call.
    EXPECT_LE(PanelTestAccess(panel).queueLength(), 16u);
    EXPECT_LE(testenv::openDescriptorCount() - descriptorsBefore, 16);
    EXPECT_EQ(PanelTestAccess(panel).queued(PanelTestAccess(panel).queueLength() - 1).PName,
              QString::number(kPictures));
    while (PanelTestAccess(panel).queueLength() > 0)
        tick();
    // What the person sees last is the last picture sent.
    EXPECT_EQ(PanelTestAccess(panel).label("lblParticipant")->Caption(),
              QString::number(kPictures));
    EXPECT_EQ(at(88, 72), kBlue);
}

} // namespace
