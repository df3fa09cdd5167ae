#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/ShmName.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

namespace {

namespace mod = modImageMemMapFunctions;
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
    for (const auto &[arguments, stored] : bytes) {
        const mod::Header header = mod::BuildImageHeader(1, 2, 3, 4, 5, arguments[0], arguments[1],
                                                         arguments[2], arguments[3]);
        EXPECT_TRUE(std::equal(stored.begin(), stored.end(), header.begin() + 20))
            << arguments[0] << " " << arguments[1];
        EXPECT_EQ(mod::GetHeaderField(header, 16), 5);
    }
}

TEST(ImageHeader, GetHeaderFieldReadsOnlyTheDefinedOffsets)
{
    const mod::Header header = mod::BuildImageHeader(123456, 5000, -1, kMin, kMax, 40, 24, 123, 32);
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {0, 123456}, {8, -1}, {12, kMin}, {16, kMax}, {20, 40}, {22, 123},
        {23, 32},    {2, 0},  {19, 0},    {24, 0},    {-4, 0},  {kMax, 0},
    };
    for (const auto &[offset, expected] : cases)
        EXPECT_EQ(mod::GetHeaderField(header, offset), expected) << "offset " << offset;

    // A field that does not fit in shorter input reads as 0.
    const std::span<const std::uint8_t> all(header);
    EXPECT_EQ(mod::GetHeaderField(all.first(19), 16), 0);
    EXPECT_EQ(mod::GetHeaderField(all.first(20), 16), kMax);
    EXPECT_EQ(mod::GetHeaderField(all.first(23), 23), 0);
    EXPECT_EQ(mod::GetHeaderField({}, 0), 0);
}

TEST(ShmName, ObjectNameHasExactlyOneSlash)
{
    const std::string cases[][3] = {
        {"/vedereve-1000-", "DADevev7", "/vedereve-1000-DADevev7"},
        {"", "ridEvadezaz", "/ridEvadezaz"},
        {"///many/slashes/", "a/b", "/many_slashes_a_b"},
        {"/../../etc/", "passwd", "/.._.._etc_passwd"},
        {"/with\0nul-"s, "x", "/withnul-x"},
    };
    for (const auto &[prefix, name, expected] : cases)
        EXPECT_EQ(platform::shm::objectName(prefix, name), expected) << prefix;
}

TEST(ShmName, PrefixIsPerUserUnlessOverridden)
{
    ::setenv(platform::shm::kPrefixVariable, "/side-by-side-", 1);
    EXPECT_EQ(platform::shm::objectName("DADevev3"), "/side-by-side-DADevev3");
    ::unsetenv(platform::shm::kPrefixVariable);
    EXPECT_EQ(platform::shm::objectName("DADevev3"),
              "/vedereve-" + std::to_string(::geteuid()) + "-DADevev3");
}

} // namespace
