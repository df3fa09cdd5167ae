#include "exchange/modImageMemMapFunctions.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

namespace mod = modImageMemMapFunctions;

TEST(ImageHeader, JpegBlockHeaderBytesAreLittleEndian)
{
    // Block 40 of a 5000-byte JPEG (0x1388), 176 x 144, participant area.
    const mod::Header header = mod::BuildImageHeader(5000, 5000, 176, 144, 40, 8, 24, 2, 32);
    const mod::Header expected = {0x88, 0x13, 0, 0, 0x88, 0x13, 0, 0, 176, 0,  0, 0,
                                  144,  0,    0, 0, 40,   0,    0, 0, 8,   24, 2, 32};
    EXPECT_EQ(header, expected);
}

TEST(ImageHeader, ByteArgumentsOutOfRangeLeaveZero)
{
    struct Case
    {
        std::int32_t value;
        std::uint8_t expected;
    };
    const Case cases[] = {{0, 0},
                          {8, 8},
                          {255, 255},
                          {256, 0},
                          {300, 0},
                          {-1, 0},
                          {std::numeric_limits<std::int32_t>::min(), 0}};
    for (int position = 0; position < 4; ++position) {
        for (const Case &c : cases) {
            std::int32_t bytes[4] = {40, 24, 2, 32};
            bytes[position] = c.value;
            const mod::Header header
                = mod::BuildImageHeader(1, 2, 3, 4, 5, bytes[0], bytes[1], bytes[2], bytes[3]);
            SCOPED_TRACE(testing::Message() << "byte " << 20 + position << " = " << c.value);
            for (int i = 0; i < 4; ++i) {
                const std::uint8_t want = i == position ? c.expected : std::uint8_t(bytes[i]);
                EXPECT_EQ(header[std::size_t(20 + i)], want);
            }
            // The 32-bit fields are never disturbed by a bad byte.
            EXPECT_EQ(mod::GetHeaderField(header, 16), 5);
        }
    }
}

TEST(ImageHeader, GetHeaderFieldReadsOnlyTheDefinedOffsets)
{
    const mod::Header header
        = mod::BuildImageHeader(123456, 5000, -1, std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max(), 40, 24, 123, 32);
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {0, 123456},
        {4, 5000},
        {8, -1},
        {12, std::numeric_limits<std::int32_t>::min()},
        {16, std::numeric_limits<std::int32_t>::max()},
        {20, 40},
        {21, 24},
        {22, 123},
        {23, 32},
        {2, 0},
        {1, 0},
        {19, 0},
        {24, 0},
        {-4, 0},
        {std::numeric_limits<std::int32_t>::max(), 0},
        {std::numeric_limits<std::int32_t>::min(), 0},
    };
    for (const auto &[offset, expected] : cases)
        EXPECT_EQ(mod::GetHeaderField(header, offset), expected) << "offset " << offset;
}

TEST(ImageHeader, GetHeaderFieldNeverReadsPastShortInput)
{
    const mod::Header header = mod::BuildImageHeader(1, 2, 3, 4, 5, 6, 7, 8, 9);
    const std::span<const std::uint8_t> all(header);
    EXPECT_EQ(mod::GetHeaderField(all.first(16), 16), 0);
    EXPECT_EQ(mod::GetHeaderField(all.first(19), 16), 0);
    EXPECT_EQ(mod::GetHeaderField(all.first(20), 16), 5);
    EXPECT_EQ(mod::GetHeaderField(all.first(23), 23), 0);
    EXPECT_EQ(mod::GetHeaderField(all.first(23), 22), 8);
    EXPECT_EQ(mod::GetHeaderField({}, 0), 0);
}

TEST(ImageHeader, StructRoundTripsThroughBytes)
{
    const mod::ImageHeader original {-7,
                                     std::numeric_limits<std::int32_t>::max(),
                                     640,
                                     480,
                                     std::numeric_limits<std::int32_t>::min(),
                                     24,
                                     24,
                                     1,
                                     32};
    const mod::Header bytes = mod::toBytes(original);
    const auto back = mod::fromBytes(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(mod::toBytes(*back), bytes);
    EXPECT_EQ(back->ImageNumber, original.ImageNumber);
    EXPECT_EQ(back->PictureFormat, 1);
    EXPECT_EQ(bytes,
              mod::BuildImageHeader(-7, std::numeric_limits<std::int32_t>::max(), 640, 480,
                                    std::numeric_limits<std::int32_t>::min(), 24, 24, 1, 32));

    EXPECT_FALSE(mod::fromBytes(std::span(bytes).first(23)));
}

} // namespace
