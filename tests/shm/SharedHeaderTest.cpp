#include "ShmTestSupport.h"

#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "platform/shm/ShmName.h"
#include "support/TestEnvironment.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <set>

namespace {

namespace mod = modImageMemMapFunctions;
using shmtest::Child;
using namespace std::chrono_literals;
using namespace std::string_literals;
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(ImageHeader, FieldsAreLittleEndianAndBytesOutOfRangeStayZero)
{
    // Block 40 of a 5000-byte JPEG (0x1388), 176 x 144, participant area.
    const mod::Header expected = {0x88, 0x13, 0, 0, 0x88, 0x13, 0, 0, 176, 0,  0, 0,
                                  144,  0,    0, 0, 40,   0,    0, 0, 8,   24, 2, 32};
    EXPECT_EQ(mod::BuildImageHeader(5000, 5000, 176, 144, 40, 8, 24, 2, 32), expected);
    // A byte argument outside 0..255 leaves its own byte 0, and only that byte.
    const std::pair<std::array<std::int32_t, 4>, std::array<std::uint8_t, 4>> bytes[] = {
        {{300, 24, -1, 32}, {0, 24, 0, 32}},
        {{255, 256, 32, kMin}, {255, 0, 32, 0}},
    };
    for (const auto &[in, stored] : bytes) {
        const mod::Header header = mod::BuildImageHeader(1, 2, 3, 4, 5, in[0], in[1], in[2], in[3]);
        EXPECT_TRUE(std::equal(stored.begin(), stored.end(), header.begin() + 20)) << in[0];
        EXPECT_EQ(mod::GetHeaderField(header, 16), 5);
    }
}

TEST(ImageHeader, GetHeaderFieldReadsOnlyTheDefinedOffsetsOfWhatIsThere)
{
    const mod::Header header = mod::BuildImageHeader(123456, 5000, -1, kMin, kMax, 40, 24, 123, 32);
    const std::span<const std::uint8_t> all(header);
    // offset, bytes given, value
    const std::tuple<std::int32_t, std::size_t, std::int32_t> cases[] = {
        {0, 24, 123456}, {8, 24, -1},    {12, 24, kMin}, {16, 24, kMax},
        {20, 24, 40},    {22, 24, 123},  {23, 24, 32},   {2, 24, 0},
        {19, 24, 0},     {24, 24, 0},    {-4, 24, 0},    {kMax, 24, 0},
        {16, 19, 0},     {16, 20, kMax}, {23, 23, 0},    {0, 0, 0},
    };
    for (const auto &[offset, given, expected] : cases)
        EXPECT_EQ(mod::GetHeaderField(all.first(given), offset), expected)
            << "offset " << offset << " of " << given;
}

TEST(ShmName, ObjectNameHasExactlyOneSlashAndAPerUserPrefixUnlessOverridden)
{
    const std::string cases[][3] = {
        {"/vedereve-1000-", "DADevev7", "/vedereve-1000-DADevev7"},
        {"", "ridEvadezaz", "/ridEvadezaz"},
        {"///many/slashes/", "a/b", "/many_slashes_a_b"},
        {"/with\0nul-"s, "x", "/withnul-x"},
    };
    for (const auto &[prefix, name, expected] : cases)
        EXPECT_EQ(platform::shm::objectName(prefix, name), expected) << prefix;

    ::setenv(platform::shm::kPrefixVariable, "/side-by-side-", 1);
    EXPECT_EQ(platform::shm::objectName("DADevev3"), "/side-by-side-DADevev3");
    ::unsetenv(platform::shm::kPrefixVariable);
    EXPECT_EQ(platform::shm::objectName("DADevev3"),
              "/vedereve-" + std::to_string(::geteuid()) + "-DADevev3");
    ::setenv(platform::shm::kPrefixVariable, testenv::shmPrefix().c_str(), 1);
}

// Takes the counter's mutex, says "locked" and lets it go on a line from the test.
int hold(Child &self)
{
    mod::OpenSharedHeader();
    if (platform::shm::lockMutex(mod::hHeaderMutex, 5000) != 0 || !self.send("locked"))
        return 1;
    self.receive(-1ms);
    return platform::shm::unlockMutex(mod::hHeaderMutex);
}

// Takes count numbers (together: after "ready" and a line back) and only then sends them.
std::function<int(Child &)> take(int count, bool together = false)
{
    return [=](Child &self) {
        mod::OpenSharedHeader();
        if (together && !(self.send("ready") && self.receive(-1ms)))
            return 1;
        std::vector<std::int32_t> numbers(static_cast<std::size_t>(count));
        std::generate(numbers.begin(), numbers.end(), mod::NextImageNumber);
        std::string lines;
        for (const std::int32_t taken : numbers)
            lines += (lines.empty() ? "" : "\n") + std::to_string(taken);
        return self.send(lines) ? 0 : 1;
    };
}

class SharedHeader : public shmtest::ShmNamespaceTest
{
protected:
    void TearDown() override
    {
        mod::CloseSharedHeader();
        ShmNamespaceTest::TearDown();
    }

    static std::int32_t counter()
    {
        std::int32_t value = 0;
        std::memcpy(&value, mod::pHeaderView, sizeof value);
        return value;
    }
};

TEST_F(SharedHeader, NumbersCountAcrossProcessesPastALiveHolderAndAfterAKilledOneAndWrapToOne)
{
    mod::OpenSharedHeader();
    ASSERT_EQ(mod::ViewSize(mod::pHeaderView), mod::kHeaderBlockSize);
    ASSERT_EQ(mod::NextImageNumber(), 1);
    auto holder = std::make_unique<Child>(hold);
    ASSERT_EQ(holder->receive(), "locked");
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(mod::NextImageNumber(), 2); // after a bounded wait
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    Child other(take(2));
    EXPECT_EQ(other.receiveAll(), (std::vector<std::string> {"3", "4"}));
    EXPECT_EQ(other.wait(), 0);
    holder.reset(); // killed while it holds the mutex
    // Recovered for good: another process takes the mutex again, not merely a number.
    EXPECT_EQ(mod::NextImageNumber(), 5);
    holder = std::make_unique<Child>(hold);
    EXPECT_TRUE(holder->receive() == "locked" && holder->send("release") && holder->wait() == 0);
    // Reopening keeps the counter.
    mod::CloseSharedHeader();
    mod::OpenSharedHeader();
    EXPECT_EQ(mod::NextImageNumber(), 6);
    // After the largest number comes 1.
    const std::pair<std::int32_t, std::int32_t> wraps[]
        = {{41, 42}, {kMax - 1, kMax}, {kMax, 1}, {-1, 1}};
    for (const auto &[stored, next] : wraps) {
        std::memcpy(mod::pHeaderView, &stored, sizeof stored);
        EXPECT_EQ(mod::NextImageNumber(), next) << "after " << stored;
        EXPECT_EQ(counter(), next);
    }
}

TEST_F(SharedHeader, OpenAndCloseReleaseEachHandleOnceEvenAfterAFailedOpen)
{
    mod::OpenSharedHeader();
    mod::OpenSharedHeader(); // a second open must not leak the first
    EXPECT_EQ(openCount(), std::pair(m_open.first + 2, m_open.second + 1));
    mod::CloseSharedHeader();
    mod::CloseSharedHeader();

    // A prefix longer than any shm name may be makes every open and create fail.
    ::setenv("VEDEREVE_SHM_PREFIX", ("/" + std::string(300, 'x')).c_str(), 1);
    mod::OpenSharedHeader();
    EXPECT_EQ(std::tuple(mod::hHeaderMutex, mod::hHeaderMap, mod::pHeaderView),
              std::tuple(0u, 0u, nullptr));
    EXPECT_EQ(mod::NextImageNumber(), 0);
    mod::CloseSharedHeader();
    mod::CloseSharedHeader();
    EXPECT_EQ(openCount(), m_open);
}

TEST_F(SharedHeader, RacingProcessesCreateOnceAndNeverShareANumber)
{
    // All start on an empty namespace, so they also race to create the mutex and the block.
    constexpr int kProcesses = 4;
    constexpr int kEach = 100000;
    std::vector<std::unique_ptr<Child>> helpers;
    for (int i = 0; i < kProcesses; ++i)
        helpers.push_back(std::make_unique<Child>(take(kEach, true)));
    // Released together, so that their increments really overlap.
    for (auto &helper : helpers)
        ASSERT_EQ(helper->receive(), "ready");
    for (auto &helper : helpers)
        ASSERT_TRUE(helper->send("go"));
    std::multiset<int> numbers;
    for (auto &helper : helpers) {
        const std::vector<std::string> lines = helper->receiveAll(20s);
        EXPECT_EQ(lines.size(), std::size_t(kEach));
        EXPECT_EQ(helper->wait(), 0);
        for (const std::string &line : lines)
            numbers.insert(std::stoi(line));
    }
    // Also when a wait for the mutex runs out on a loaded machine, every number is new.
    EXPECT_TRUE(numbers.count(0) == 0
                && std::set<int>(numbers.begin(), numbers.end()).size() == numbers.size());
    mod::OpenSharedHeader();
    ASSERT_NE(mod::pHeaderView, nullptr);
    EXPECT_EQ(std::pair(counter(), *numbers.rbegin()),
              std::pair(kProcesses * kEach, kProcesses * kEach));
}

} // namespace
