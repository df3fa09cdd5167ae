// The participant queue's bounds: whatever the parent hands over, the newest pictures wait.

#include <gtest/gtest.h>

#include <vector>

#include "exchange/ParticipantQueue.h"
#include "support/TestEnvironment.h"

namespace {

using participant::ParticipantQueue;

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

    ParticipantQueue queue;
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
