// The sender on its own: when the capture tick transmits, and the held still picture. A frame's
// block and trace lines are checked on the panel.

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "exchange/Sender.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/core/System.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

namespace {

namespace mm = modImageMemMapFunctions;

std::uint32_t g_now = 0;
std::uint32_t fakeNow()
{
    return g_now;
}

TEST(Sender, SlotsAndTheSendingLabelFollowTheIntervalAcrossTheWrapAndLongGaps)
{
    platform::setTickCountSource(&fakeNow);
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

using SenderBlocks = testenv::TraceCaptureTest;

TEST_F(SenderBlocks, HeldPictureGoesWhenReplacedOrReleasedAndAFrameWithoutABlockKeepsItsSlot)
{
    mm::OpenSharedHeader();
    cDibSection picture, unusable;
    ASSERT_TRUE(picture.Create(100, 80, 24));
    std::vector<std::int32_t> announced;
    exchange::Sender sender([&](QByteArray &, std::int32_t n) { announced.push_back(n); });
    const auto exists = [](std::int32_t n) { return bool(mm::ImageBlock::open(n)); };

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

    // Somebody else's smaller block under the next number: the frame's cannot be made.
    const mm::ImageBlock squatter = mm::ImageBlock::create(second + 1, 8);
    EXPECT_FALSE(sender.sendFrame(picture, 8));
    EXPECT_EQ(captured().find("Map written"), std::string::npos);
    EXPECT_TRUE(sender.sendFrame(unusable, 8)); // nothing to encode: the slot is used
    EXPECT_EQ(announced, std::vector {second});
    mm::CloseSharedHeader();
}

} // namespace
