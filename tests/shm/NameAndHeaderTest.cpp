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
        {"/../../etc/", "passwd", "/.._.._etc_passwd"},
        {"/with\0nul-"s, "x", "/withnul-x"},
    };
    for (const auto &[prefix, name, expected] : cases)
        EXPECT_EQ(platform::shm::objectName(prefix, name), expected) << prefix;

    ::setenv(platform::shm::kPrefixVariable, "/side-by-side-", 1);
    EXPECT_EQ(platform::shm::objectName("DADevev3"), "/side-by-side-DADevev3");
    ::unsetenv(platform::shm::kPrefixVariable);
    EXPECT_EQ(platform::shm::objectName("DADevev3"),
              "/vedereve-" + std::to_string(::geteuid()) + "-DADevev3");
}

} // namespace
