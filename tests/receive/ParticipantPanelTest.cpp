#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <dirent.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "automation/DebugTrace.h"
#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"
#include "platform/core/TraceSink.h"
#include "platform/shm/HandleTable.h"
#include "receive/ParticipantBlocks.h"

namespace {

using recvtest::BlockFields;
using recvtest::Bytes;

constexpr QRgb kRed = qRgb(230, 20, 20);
constexpr QRgb kBlue = qRgb(20, 20, 230);
constexpr QRgb kWhite = qRgb(255, 255, 255);

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

// A block written the way a parent writes one. The parent's handle goes when this does, and
// with it the name; the panel's own handle keeps the block alive until it has been shown.
class ParentBlock
{
public:
    ParentBlock(std::int32_t number, const Bytes &bytes, std::size_t blockSize = 0)
    {
        m_handle = modImageMemMapFunctions::CreateImageBlock(
            number, std::int64_t(blockSize ? blockSize : bytes.size()));
        m_view = modImageMemMapFunctions::MapImageBlock(m_handle);
        if (m_view)
            std::memcpy(m_view, bytes.data(),
                        std::min(bytes.size(), modImageMemMapFunctions::ViewSize(m_view)));
    }
    ~ParentBlock() { release(); }
    bool ok() const { return m_view != nullptr; }
    void release()
    {
        if (m_view)
            modImageMemMapFunctions::UnmapViewOfFile(m_view);
        if (m_handle)
            modImageMemMapFunctions::CloseHandle(m_handle);
        m_view = nullptr;
        m_handle = 0;
    }

private:
    std::uint32_t m_handle = 0;
    std::uint8_t *m_view = nullptr;
};

class ParticipantPanel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        object = std::make_unique<zozEZUdeZid>();
        panel = object->form()->WebCam();
        handlesBefore = platform::shm::openHandleCount();
        viewsBefore = platform::shm::openViewCount();
        platform::TraceSink::startCapture();
    }
    void TearDown() override
    {
        DebugTrace::setDebugFlag(false);
        platform::TraceSink::stopCapture();
        // Every queued block is closed once shown, whichever way its routine ended.
        EXPECT_TRUE(panel->ParticipantQueue.empty());
        EXPECT_EQ(platform::shm::openHandleCount(), handlesBefore);
        EXPECT_EQ(platform::shm::openViewCount(), viewsBefore);
        object.reset();
        EXPECT_EQ(imageBlocksInShm(), 0);
    }

    // The parent's side of one picture: write the block, call UpdateParticipant, close its own
    // handle as soon as the call returns.
    void send(const Bytes &bytes, const QString &name = "Ann Lee", const QString &location = "Oslo",
              std::size_t blockSize = 0)
    {
        ParentBlock block(++number, bytes, blockSize);
        ASSERT_TRUE(block.ok());
        object->UpdateParticipant(number, name, location);
    }
    void tick() { panel->tmrQueue_Timer(40); }
    void show(const Bytes &bytes, const QString &name = "Ann Lee", const QString &location = "Oslo")
    {
        send(bytes, name, location);
        tick();
    }

    QRgb at(int x, int y) const { return panel->picParticipant->Image().pixel(x, y); }
    // Within the losses of a JPEG round trip.
    static bool near(QRgb a, QRgb b)
    {
        return std::abs(qRed(a) - qRed(b)) < 40 && std::abs(qGreen(a) - qGreen(b)) < 40
            && std::abs(qBlue(a) - qBlue(b)) < 40;
    }

    std::unique_ptr<zozEZUdeZid> object;
    cveDerEve *panel = nullptr;
    std::int32_t number = 7000;
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
        {"raw 160x120", false, 160, 120, {8, 12}}, {"jpeg 160x120", true, 160, 120, {8, 12}},
        {"raw 175x143", false, 175, 143, {0, 0}},  {"jpeg 175x143", true, 175, 143, {0, 0}},
        {"jpeg 320x240", true, 320, 240, {0, 0}},  {"raw 320x240", false, 320, 240, {0, 0}},
        {"raw 173x141", false, 173, 141, {2, 2}},
    };
    const QSize box = panel->picParticipant->Image().size();
    for (const Case &c : cases) {
        const QImage picture = recvtest::twoBandPicture(c.width, c.height, kRed, kBlue);
        show(c.jpeg ? recvtest::jpegBlock(picture) : recvtest::rawBlock(picture));
        const int right = std::min(c.at.x() + c.width, box.width()) - 1;
        const int bottom = std::min(c.at.y() + c.height, box.height()) - 1;
        EXPECT_TRUE(near(at(c.at.x(), c.at.y()), kRed)) << c.name;
        EXPECT_TRUE(near(at(right, c.at.y()), kRed)) << c.name;
        EXPECT_TRUE(near(at(c.at.x(), bottom), kBlue)) << c.name;
        EXPECT_TRUE(near(at(right, bottom), kBlue)) << c.name;
        // The rest of the box is wiped to its back colour, not left from the last picture.
        if (c.at.x() > 0) {
            EXPECT_EQ(at(c.at.x() - 1, c.at.y()), kWhite) << c.name;
        }
        if (c.at.y() > 0) {
            EXPECT_EQ(at(c.at.x(), c.at.y() - 1), kWhite) << c.name;
        }
        if (bottom + 1 < box.height()) {
            EXPECT_EQ(at(c.at.x(), bottom + 1), kWhite) << c.name;
        }
        // The drawing is the box's picture now, so it survives a redraw.
        panel->picParticipant->Cls();
        EXPECT_TRUE(near(at(c.at.x(), c.at.y()), kRed)) << c.name;
    }
}

TEST_F(ParticipantPanel, PictureFileIsShownAtTheTopLeftWithoutExpansion)
{
    const Bytes jpeg = recvtest::pictureFile(recvtest::twoBandPicture(60, 40, kRed, kBlue));
    // OrigSize that matches nothing: a picture file is never expanded.
    show(recvtest::blockBytes({12345, 60, 40, 2}, jpeg), " Bo ", " Rome ");
    EXPECT_EQ(panel->picParticipant->Picture().size(), QSize(60, 40));
    EXPECT_TRUE(near(at(0, 0), kRed));
    EXPECT_TRUE(near(at(59, 39), kBlue));
    EXPECT_EQ(at(60, 0), kWhite);
    EXPECT_EQ(panel->lblParticipant->Caption(), "Bo");
    EXPECT_EQ(panel->lblLocation->Caption(), "Rome");

    // An unreadable file leaves the box without a picture; the labels still follow.
    show(recvtest::fileBlock(Bytes(200, 0x33)), "Cy", "Nice");
    EXPECT_FALSE(panel->picParticipant->hasPicture());
    EXPECT_EQ(at(0, 0), kWhite);
    EXPECT_EQ(panel->lblParticipant->Caption(), "Cy");
}

TEST_F(ParticipantPanel, BlocksForAnotherPlaceOrWithoutMarkerChangeNothing)
{
    show(recvtest::rawBlock(recvtest::twoBandPicture(20, 20, kRed, kRed)), "First", "Here");
    const QImage before = panel->picParticipant->Image();
    panel->lblStatus->setCaption("unchanged");
    DebugTrace::setDebugFlag(true);

    const QImage other = recvtest::twoBandPicture(20, 20, kBlue, kBlue);
    const Bytes bits = recvtest::bottomUpBgr(other);
    const Bytes packed = recvtest::zlibCompress(bits);
    struct Case
    {
        const char *name;
        std::uint8_t destination, marker;
    };
    for (const Case c :
         {Case {"white board bottom right", 24, 32}, Case {"white board centre", 40, 32},
          Case {"destination 0", 0, 32}, Case {"marker 0", 8, 0}, Case {"marker 33", 8, 33}}) {
        platform::TraceSink::startCapture();
        BlockFields fields {std::int32_t(bits.size()), 20, 20, 1};
        fields.Destination = c.destination;
        fields.Marker = c.marker;
        show(recvtest::blockBytes(fields, packed), "Second", "There");
        EXPECT_EQ(panel->picParticipant->Image(), before) << c.name;
        EXPECT_EQ(panel->lblParticipant->Caption(), "First") << c.name;
        EXPECT_EQ(panel->lblLocation->Caption(), "Here") << c.name;
        EXPECT_EQ(panel->lblStatus->Caption(), "unchanged") << c.name;
        EXPECT_EQ(platform::TraceSink::captured(),
                  "WebCam UpdateParticipantNow - Preparing to copy image header\n"
                  "WebCam UpdateParticipantNow - Image header copied\n")
            << c.name;
    }
}

TEST_F(ParticipantPanel, StreamsThatDoNotExpandToOrigSizeAreDropped)
{
    show(recvtest::rawBlock(recvtest::twoBandPicture(20, 20, kRed, kRed)), "First", "Here");
    const QImage before = panel->picParticipant->Image();
    DebugTrace::setDebugFlag(true);

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
        Bytes data;
        bool traced;
    };
    const Case cases[] = {
        {"one byte short", 1, size + 1, packed, false},
        {"one byte over", 1, size - 1, packed, false},
        {"far over", 1, size / 2, packed, true},
        {"corrupt", 1, size, corrupt, true},
        {"not compressed at all", 1, size, bits, true},
        {"jpeg one byte short", 123, size + 1, packed, false},
        {"jpeg corrupt", 123, size, corrupt, true},
        {"unknown format corrupt", 77, size, corrupt, true},
    };
    const std::string head = "WebCam UpdateParticipantNow - Preparing to copy image header\n"
                             "WebCam UpdateParticipantNow - Image header copied\n"
                             "WebCam UpdateParticipantNow - Preparing to copy image data\n"
                             "WebCam UpdateParticipantNow - Image data copied\n";
    for (const Case &c : cases) {
        platform::TraceSink::startCapture();
        show(recvtest::blockBytes({c.origSize, 20, 20, c.format}, c.data), "Second", "There");
        EXPECT_EQ(panel->picParticipant->Image(), before) << c.name;
        EXPECT_EQ(panel->lblParticipant->Caption(), "First") << c.name;
        EXPECT_EQ(platform::TraceSink::captured(),
                  head + (c.traced ? "WebCam DecompressData failed\n" : ""))
            << c.name;
    }

    // The same path with a good stream: it gets through and says so.
    platform::TraceSink::startCapture();
    show(recvtest::blockBytes({size, 20, 20, 1}, packed), "Second", "There");
    EXPECT_EQ(platform::TraceSink::captured(), head + "WebCam UpdateParticipantNow Exit\n");
    EXPECT_EQ(at(78, 62), kBlue);
}

TEST_F(ParticipantPanel, BlocksThatLieAboutTheirSizeAreHandledSafely)
{
    show(recvtest::rawBlock(recvtest::twoBandPicture(20, 20, kRed, kRed)), "First", "Here");
    const QImage before = panel->picParticipant->Image();
    const Bytes jpeg = recvtest::pictureFile(recvtest::twoBandPicture(60, 40, kBlue, kBlue));

    BlockFields longer {std::int32_t(jpeg.size()), 60, 40, 2};
    longer.claimedLength = std::int64_t(jpeg.size()) + 5000;
    BlockFields negative = longer;
    negative.claimedLength = 0xfffffff0;
    BlockFields zero = longer;
    zero.claimedLength = 0;
    struct Case
    {
        const char *name;
        Bytes bytes;
        std::size_t blockSize;
    };
    const Case cases[] = {
        {"data length past the end", recvtest::blockBytes(longer, jpeg), 0},
        {"negative data length", recvtest::blockBytes(negative, jpeg), 0},
        {"zero data length", recvtest::blockBytes(zero, jpeg), 0},
        {"header cut short", Bytes(10, 0x20), 0},
        {"huge OrigSize", recvtest::blockBytes({0x7ffffff0, 60, 40, 1}, jpeg), 0},
        {"negative OrigSize", recvtest::blockBytes({-24, 60, 40, 123}, jpeg), 0},
    };
    for (const Case &c : cases) {
        show(c.bytes, "Second", "There");
        EXPECT_EQ(panel->picParticipant->Image(), before) << c.name;
        EXPECT_EQ(panel->lblParticipant->Caption(), "First") << c.name;
    }

    // A block larger than its header says is fine: the data part ends where the header says.
    Bytes padded = recvtest::fileBlock(jpeg);
    padded.resize(padded.size() + 3000, 0xee);
    show(padded, "Third", "Far");
    EXPECT_EQ(panel->lblParticipant->Caption(), "Third");
    EXPECT_TRUE(near(at(0, 0), kBlue));
}

TEST_F(ParticipantPanel, NotDrawnFormatsUpdateOnlyTheLabels)
{
    show(recvtest::rawBlock(recvtest::twoBandPicture(20, 20, kRed, kRed)), "First", "Here");
    const QImage before = panel->picParticipant->Image();
    const Bytes data(40, 0x11);
    const Bytes packed = recvtest::zlibCompress(data);
    struct Case
    {
        const char *name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"format 3", recvtest::blockBytes({999, 20, 20, 3}, data)},
        {"unknown format", recvtest::blockBytes({40, 20, 20, 50}, packed)},
        {"raw with no usable size", recvtest::blockBytes({40, 0, 20, 1}, packed)},
        {"raw with a bad bit count", recvtest::blockBytes({40, 4, 4, 1, 8, 12}, packed)},
        {"format 123 without a JPEG", recvtest::blockBytes({40, 20, 20, 123}, packed)},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString name = QString("Name %1").arg(++n);
        show(c.bytes, "  " + name + " ", " Place ");
        EXPECT_EQ(panel->picParticipant->Image(), before) << c.name;
        EXPECT_EQ(panel->lblParticipant->Caption(), name) << c.name;
        EXPECT_EQ(panel->lblLocation->Caption(), "Place") << c.name;
        EXPECT_EQ(panel->lblStatus->Caption(), "[ New Image ]") << c.name;
    }
}

TEST_F(ParticipantPanel, NewImageStatusOnlyWhileMinimised)
{
    const Bytes block = recvtest::rawBlock(recvtest::twoBandPicture(8, 8, kRed, kRed));
    ASSERT_FALSE(panel->m_Maximized);
    panel->lblStatus->setCaption("");
    show(block);
    EXPECT_EQ(panel->lblStatus->Caption(), "[ New Image ]");

    panel->Maximize();
    ASSERT_TRUE(panel->m_Maximized);
    panel->lblStatus->setCaption("[ Picture Sent ]");
    show(block);
    EXPECT_EQ(panel->lblStatus->Caption(), "[ Picture Sent ]");

    panel->Minimize();
    show(block);
    EXPECT_EQ(panel->lblStatus->Caption(), "[ New Image ]");
}

TEST_F(ParticipantPanel, SingleByteDataSkipsDrawingAndNames)
{
    show(recvtest::rawBlock(recvtest::twoBandPicture(20, 20, kRed, kRed)), "First", "Here");
    const QImage before = panel->picParticipant->Image();
    const Bytes one = {0x5a};
    const std::uint8_t value = 0x5a;
    struct Case
    {
        const char *name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"picture file of one byte", recvtest::blockBytes({1, 1, 1, 2}, one)},
        {"raw expanding to one byte",
         recvtest::blockBytes({1, 1, 1, 1}, recvtest::zlibCompress({&value, 1}))},
        {"format 3 of one byte", recvtest::blockBytes({1, 1, 1, 3}, one)},
    };
    for (const Case &c : cases) {
        panel->lblStatus->setCaption("");
        show(c.bytes, "Second", "There");
        EXPECT_EQ(panel->picParticipant->Image(), before) << c.name;
        EXPECT_EQ(panel->lblParticipant->Caption(), "First") << c.name;
        EXPECT_EQ(panel->lblLocation->Caption(), "Here") << c.name;
        EXPECT_EQ(panel->lblStatus->Caption(), "[ New Image ]") << c.name;
    }
}

TEST_F(ParticipantPanel, NameOfAnotherLengthSwitchesBackToTheParticipantTab)
{
    const Bytes block = recvtest::fileBlock(Bytes(30, 0x01));
    struct Case
    {
        const char *name;
        QString shown, incoming;
        std::int32_t tabAfter;
    };
    const Case cases[] = {
        {"longer name", "Ann", "Annabel", 0},
        {"same length", "Ann", "Bob", 1},
        // The raw lengths count: trimming comes after the comparison.
        {"same length once trimmed", "Ann", " Ann ", 0},
        {"same length before trimming", "Ann  ", "Bo   ", 1},
    };
    for (const Case &c : cases) {
        panel->setCurrentTab(0);
        panel->lblParticipant->setCaption(c.shown);
        panel->setCurrentTab(1);
        ASSERT_TRUE(panel->lblLocation->isHidden()) << c.name;
        show(block, c.incoming, "Lima");
        EXPECT_EQ(panel->CurrentTab(), c.tabAfter) << c.name;
        EXPECT_EQ(panel->lblLocation->isHidden(), c.tabAfter == 1) << c.name;
        EXPECT_EQ(panel->lblLocation->Caption(), "Lima") << c.name;
    }
}

TEST_F(ParticipantPanel, BurstIsShownInOrderOnePerTick)
{
    const QRgb colours[] = {kRed, kBlue, qRgb(20, 200, 20)};
    const char *names[] = {"One", "Two", "Three"};
    for (int i = 0; i < 3; ++i)
        send(recvtest::rawBlock(recvtest::twoBandPicture(16, 16, colours[i], colours[i])), names[i],
             "Here");
    EXPECT_EQ(panel->ParticipantQueue.size(), 3u);
    EXPECT_TRUE(panel->tmrQueue->Enabled());
    // The parent's handles are gone: the queued handles alone keep the blocks.
    EXPECT_EQ(imageBlocksInShm(), 0);

    for (int i = 0; i < 3; ++i) {
        tick();
        EXPECT_EQ(panel->lblParticipant->Caption(), names[i]);
        EXPECT_EQ(at(80, 64), colours[i]);
        EXPECT_EQ(panel->ParticipantQueue.size(), std::size_t(2 - i));
        EXPECT_EQ(panel->tmrQueue->Enabled(), i < 2);
    }
    // A tick on an empty queue does nothing.
    tick();
    EXPECT_EQ(panel->lblParticipant->Caption(), "Three");
}

TEST_F(ParticipantPanel, QueueTimerDrainsTheQueueOnItsOwn)
{
    for (const char *name : {"One", "Two", "Three"})
        send(recvtest::rawBlock(recvtest::twoBandPicture(16, 16, kRed, kRed)), name, "Here");
    QElapsedTimer clock;
    clock.start();
    while (!panel->ParticipantQueue.empty() && clock.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(panel->ParticipantQueue.empty());
    EXPECT_EQ(panel->lblParticipant->Caption(), "Three");
    EXPECT_FALSE(panel->tmrQueue->Enabled());
}

} // namespace
