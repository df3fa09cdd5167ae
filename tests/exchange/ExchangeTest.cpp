// A frame's block and trace lines are checked on the panel.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "exchange/ParticipantQueue.h"
#include "exchange/Sender.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/core/FaultGuard.h"
#include "platform/core/System.h"
#include "platform/shm/HandleTable.h"
#include "support/TestEnvironment.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

namespace {

namespace mm = modImageMemMapFunctions;

std::uint32_t g_now = 0;

TEST(Sender, SlotsAndTheSendingLabelFollowTheIntervalAcrossTheWrapAndLongGaps)
{
    platform::setTickCountSource([] { return g_now; });
    exchange::Sender sender([](QByteArray &, std::int32_t) {});
    // One tick a row; a slot that comes is taken, as the capture tick takes it.
    const std::tuple<std::uint32_t, std::int32_t, bool, std::tuple<bool, bool, bool>> rows[] = {
        // now, interval, mayPost: sending, due, transmit
        {0x00000100, 2000, true, {false, true, true}}, // the first slot at once, however early
        {0x90000000, 2000, true, {false, true, true}}, // over 2^31 ms on: long past
        {0x900003E7, 2000, true, {true, false, false}}, // the label for a second after a slot
        {0x900003E8, 2000, true, {false, false, false}},
        {0x900007D0, 2000, true, {false, false, false}}, // the interval itself is not past it
        {0x900007D1, 2000, false, {false, true, false}}, // a slot without posting is used too
        {0x900007D2, 2000, true, {true, false, false}},
        {0x90000CA3, 1234, true, {false, false, false}}, // any interval paces by its value
        {0x90000CA4, 1234, true, {false, true, true}},
        {0x90000CA4, 0, true, {true, false, false}}, // "as fast as possible": every new tick
        {0x90001474, 0, true, {true, true, true}},
        {0x10001475, 5000, true, {false, true, true}}, // 2^31 + 1 ms on, across the wrap
        {0xFFFFFF00, 5000, true, {false, true, true}},
        {0x000002E7, 5000, true, {true, false, false}}, // 999 ms on, across the wrap
        {0x00001288, 5000, true, {false, false, false}},
        {0x00001289, 5000, true, {false, true, true}},
        {0x00001289, -1, true, {true, true, true}}, // a negative interval never waits
    };
    for (const auto &[now, interval, mayPost, expected] : rows) {
        g_now = now;
        const exchange::Sender::Slot slot = sender.slot(interval, mayPost);
        EXPECT_EQ(std::tuple(slot.sending, slot.due, slot.transmit), expected)
            << std::hex << now << std::dec << " interval " << interval;
        if (slot.due)
            sender.slotTaken();
    }
    platform::setTickCountSource(nullptr);
}

class SenderBlocks : public testenv::TraceCaptureTest
{
protected:
    void SetUp() override
    {
        TraceCaptureTest::SetUp();
        ASSERT_TRUE(picture.Create(100, 80, 24));
        sender.OpenSharedHeader();
    }
    static bool exists(std::int32_t n) { return bool(mm::ImageBlock::open(n)); }

    cDibSection picture;
    std::vector<std::int32_t> announced;
    exchange::Sender sender {[this](QByteArray &, std::int32_t n) { announced.push_back(n); }};
};

TEST_F(SenderBlocks, HeldPictureGoesWhenReplacedOrReleasedAndAFrameThatDoesNotEncodeUsesItsSlot)
{
    cDibSection unusable;
    ASSERT_TRUE(sender.holdPicture(picture));
    const std::int32_t first = sender.heldNumber();
    EXPECT_FALSE(sender.holdPicture(unusable)); // nothing to encode: the held one stays
    ASSERT_TRUE(sender.holding() && exists(first));
    ASSERT_TRUE(sender.holdPicture(picture));
    const std::int32_t second = sender.heldNumber();
    EXPECT_TRUE(second != first && exists(second) && !exists(first));
    sender.announceHeld();
    sender.releaseHeld();
    EXPECT_TRUE(!sender.holding() && !exists(second));
    EXPECT_EQ(captured(), ""); // still pictures write no trace lines
    EXPECT_TRUE(sender.sendFrame(unusable, 8));
    EXPECT_EQ(announced, std::vector {second});
}

// An existing block is never written nor announced; a frame tries at most sixteen numbers.
TEST_F(SenderBlocks, ExistingBlocksAreSkippedNeverWrittenAndSixteenTakenNumbersEndTheFrame)
{
    ASSERT_TRUE(sender.sendFrame(picture, 8));
    const std::int32_t last = announced.back();
    // Smaller and larger than the frame's block would be.
    std::vector<mm::ImageBlock> theirs;
    for (const std::int64_t size : {8, 25, 1 << 20}) {
        theirs.push_back(mm::ImageBlock::create(last + 1 + std::int32_t(theirs.size()), size));
        ASSERT_TRUE(theirs.back());
        std::memset(theirs.back().MapView(), 0x77, std::size_t(size));
    }
    ASSERT_TRUE(sender.sendFrame(picture, 8));
    EXPECT_EQ(announced.back(), last + 4);
    for (const mm::ImageBlock &block : theirs)
        EXPECT_TRUE(std::all_of(block.MapView(), block.MapView() + block.size(),
                                [](std::uint8_t byte) { return byte == 0x77; }));
    std::string tried;
    for (std::int32_t n = last + 1; n <= last + 4; ++n)
        tried += "WebCam tmrMain - Aquired image number " + std::to_string(n) + "\n";
    EXPECT_NE(captured().find(tried), std::string::npos) << captured();

    // Sixteen taken in a row end the frame as a failed block does; the next frame goes on after.
    const std::int32_t rewound = 1000;
    std::vector<mm::ImageBlock> squatted;
    for (std::int32_t n = rewound + 1; n <= rewound + mm::ImageBlock::kMaxNumberTries; ++n)
        squatted.push_back(mm::ImageBlock::create(n, 64));
    std::memcpy(mm::pHeaderView, &rewound, sizeof rewound);
    const std::size_t sent = announced.size();
    EXPECT_TRUE(!sender.sendFrame(picture, 8) && announced.size() == sent);
    EXPECT_TRUE(sender.sendFrame(picture, 8)
                && announced.back() == rewound + mm::ImageBlock::kMaxNumberTries + 1);
}

// Closing one sender (twice, even) leaves the others numbering; a header shrunk by another process
// is opened again with a trace line, without a fault or wait.
TEST_F(SenderBlocks, OneSendersCloseLeavesTheOthersNumberingAndAHeaderThatShrankIsOpenedAgain)
{
    std::vector<std::int32_t> others;
    exchange::Sender other([&](QByteArray &, std::int32_t n) { others.push_back(n); });
    other.OpenSharedHeader();
    ASSERT_TRUE(sender.sendFrame(picture, 8) && other.sendFrame(picture, 8));
    const std::uint8_t *view = mm::pHeaderView;
    other.CloseSharedHeader();
    other.CloseSharedHeader();
    // Still open, not merely opened again later; no numbers for the closed one.
    EXPECT_TRUE(mm::pHeaderView == view && !other.sendFrame(picture, 8));
    ASSERT_TRUE(sender.sendFrame(picture, 8) && sender.sendFrame(picture, 8));
    EXPECT_EQ(others.size(), 1u);
    EXPECT_EQ(announced, (std::vector {others[0] - 1, others[0] + 1, others[0] + 2}));

    // Cut to two bytes, the low half of the count stays.
    const std::int32_t count = 0x50007;
    std::memcpy(mm::pHeaderView, &count, sizeof count);
    ASSERT_EQ(::truncate(("/dev/shm" + testenv::shmPrefix() + mm::kHeaderBlockName).c_str(), 2), 0);
    platform::FaultGuard::install();
    bool sent = false;
    EXPECT_TRUE(platform::FaultGuard::run([&] { sent = sender.sendFrame(picture, 8); }));
    platform::FaultGuard::remove();
    EXPECT_TRUE(sent && announced.back() == 8);
    EXPECT_NE(captured().find("WebCam shared header shrank to 2 bytes, opened again\n"),
              std::string::npos)
        << captured();
    EXPECT_EQ(platform::shm::lockMutex(mm::hHeaderMutex, 0), 0);
    platform::shm::unlockMutex(mm::hHeaderMutex);
}

struct Queue : ::testing::Test
{
    // A block of size bytes handed over as a parent does: created, queued, its own handle closed.
    bool add(std::int64_t size = 64)
    {
        const auto parents = modImageMemMapFunctions::ImageBlock::create(++number, size);
        return queue.add(number, QString::number(number), QStringLiteral("here"));
    }
    std::vector<std::int32_t> numbers() const
    {
        std::vector<std::int32_t> out;
        for (std::size_t i = 0; i < queue.size(); ++i)
            out.push_back(queue.at(i).imgNumber);
        return out;
    }

    participant::ParticipantQueue queue;
    std::int32_t number = 9000;
};

TEST_F(Queue, PastSixteenPicturesTheOldestGoAndTheRestComeFirstInFirstOut)
{
    const int descriptors = testenv::openDescriptorCount();
    EXPECT_TRUE(add()); // into an empty queue: the timer starts
    EXPECT_FALSE(add());
    for (int i = 0; i < 2000; ++i)
        add();
    EXPECT_EQ(queue.size(), 16u);
    EXPECT_LE(testenv::openDescriptorCount() - descriptors, 16);
    for (std::int32_t expected = number - 15; expected <= number; ++expected) {
        const std::optional<clsQueue> first = queue.takeFirst();
        ASSERT_TRUE(first && first->Block);
        EXPECT_EQ(std::tuple(first->imgNumber, first->PName, first->Location),
                  std::tuple(expected, QString::number(expected), QStringLiteral("here")));
    }
    EXPECT_FALSE(queue.takeFirst());
}

TEST_F(Queue, PastTheByteBoundTheOldestGoAndTheNewestStaysUnlessTooLargeAlone)
{
    constexpr std::int64_t kMax = 64 * 1024 * 1024 + 24;
    add(100);
    add(kMax / 2);
    add(kMax / 2 - 100); // exactly the bound
    EXPECT_EQ(numbers(), (std::vector {9001, 9002, 9003}));
    add(1); // the oldest make room, no more of them than needed
    EXPECT_EQ(numbers(), (std::vector {9002, 9003, 9004}));
    add(kMax); // a picture that fills the bound alone still comes
    EXPECT_EQ(numbers(), (std::vector {9005}));
    EXPECT_FALSE(add(kMax + 1)); // one that can never be shown is refused, and nothing goes
    EXPECT_FALSE(queue.add(12345, {}, {})); // no such block
    EXPECT_EQ(numbers(), (std::vector {9005}));
}

} // namespace
