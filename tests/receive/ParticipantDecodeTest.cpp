// The steps behind a participant picture that the panel cannot show apart: the exact expansion
// rule, the centring, and what the receiver keeps from one picture to the next.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>

#include "exchange/ParticipantDecode.h"
#include "receive/ParticipantBlocks.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

namespace {

using participant::DecodedPicture;
using recvtest::Bytes;

modImageMemMapFunctions::ImageHeader headerOf(std::int32_t origSize, std::int32_t width,
                                              std::int32_t height, std::uint8_t format)
{
    modImageMemMapFunctions::ImageHeader header {};
    header.OrigSize = origSize;
    header.Width = width;
    header.Height = height;
    header.BitsPerPixel = 24;
    header.PictureFormat = format;
    return header;
}

// Expansion and decoding of plain, which travels zlib-compressed; nothing when it is dropped.
std::optional<DecodedPicture> pass(participant::Receiver &receiver,
                                   const modImageMemMapFunctions::ImageHeader &header,
                                   const Bytes &plain)
{
    const auto received = receiver.expand(header, recvtest::zlibCompress(plain));
    if (!received)
        return std::nullopt;
    DecodedPicture out;
    receiver.decode(*received, out);
    return out;
}

TEST(CentringOffset, HalvesRoundToTheEvenNeighbour)
{
    // 0.5 gives 0, 1.5 and 2.5 give 2, 3.5 gives 4; a picture as wide or wider sits at 0.
    const std::int32_t cases[][2] = {{160, 8}, {175, 0}, {173, 2}, {171, 2}, {169, 4}, {320, 0}};
    for (const auto &[extent, expected] : cases)
        EXPECT_EQ(participant::centringOffset(extent, 176), expected) << extent;
}

using DecompressDataTest = testenv::TraceCaptureTest;

TEST_F(DecompressDataTest, OnlyAnExactExpansionReportsOrigSize)
{
    // Longer than the scratch area that counts what does not fit, so the count crosses it.
    Bytes plain(10000);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = std::uint8_t(i * 7 + i / 251);
    const Bytes packed = recvtest::zlibCompress(plain);
    const Bytes truncated(packed.begin(), packed.end() - 4);
    struct Case
    {
        const char *name;
        Bytes input;
        std::int32_t origSize, room, expected; // room: bytes the caller keeps
        bool traced;
    };
    const Case cases[] = {
        {"exact", packed, 10000, 10000, 10000, false},
        {"shorter than OrigSize", packed, 10001, 10001, 10000, false},
        // The spare byte takes one byte too many without an error, but never reports OrigSize.
        {"one byte longer", packed, 9999, 9999, 10000, false},
        {"two bytes longer", packed, 9998, 9998, 9999, true},
        {"kept in part, counted in full", packed, 10000, 10, 10000, false},
        {"truncated stream", truncated, 10000, 10000, 10001, true},
        {"corrupt stream", {0x78, 0x9c, 0xff, 0xff, 0x00, 0x13}, 10000, 10000, 10001, true},
        {"zero OrigSize", packed, 0, 0, -1, false},
        {"negative OrigSize", packed, -100, 0, 0, false},
        {"absurd OrigSize", packed, participant::kMaxOrigSize + 1, 0, 0, false},
    };
    for (const Case &c : cases) {
        platform::TraceSink::startCapture();
        Bytes out(std::size_t(c.room), 0xee);
        EXPECT_EQ(participant::DecompressData(c.input, c.origSize, out), c.expected) << c.name;
        if (!c.traced && c.expected > 0) { // what was kept is the start of the expansion
            const auto kept = std::ptrdiff_t(std::min(out.size(), std::size_t(c.expected)));
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + kept, plain.begin())) << c.name;
        }
        EXPECT_EQ(captured(), c.traced ? "WebCam DecompressData failed\n" : "") << c.name;
    }
}

TEST(Receiver, RawRowsStopAtTheBitmapAndNothingOfAnEarlierPictureRemains)
{
    participant::Receiver receiver;
    // More bytes than the 16-byte bitmap holds: the surplus is counted, not written past it.
    auto decoded = pass(receiver, headerOf(1000, 2, 2, 1), Bytes(1000, 0x7f));
    ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap);
    cDibSection *bitmap = decoded->bitmap;
    EXPECT_EQ(bitmap->TotalBytes(), 16);
    EXPECT_EQ(bitmap->DibPicture().pixel(1, 0), qRgb(0x7f, 0x7f, 0x7f));

    // The same size again reuses the bitmap; what short data leaves of it is cleared.
    decoded = pass(receiver, headerOf(3, 2, 2, 1), Bytes(3, 0xff));
    ASSERT_TRUE(decoded && decoded->bitmap == bitmap);
    EXPECT_EQ(bitmap->DibPicture().pixel(0, 1), qRgb(0xff, 0xff, 0xff)); // bottom row
    EXPECT_EQ(bitmap->DibPicture().pixel(1, 1), qRgb(0, 0, 0));
    EXPECT_EQ(bitmap->DibPicture().pixel(1, 0), qRgb(0, 0, 0));
}

TEST(Receiver, OnlyBitmapsWithinTheBoundAreKept)
{
    participant::Receiver receiver;
    // 2048 x 1366 x 3 bytes is just past the bound; zeros compress to almost nothing.
    ASSERT_GT(std::size_t(2048 * 3 * 1366), participant::Receiver::kKeptBytes);
    for (const auto &[width, height, kept] : {std::tuple {2048, 1366, false}, {640, 480, true}}) {
        const std::int32_t size = width * 3 * height;
        const auto decoded
            = pass(receiver, headerOf(size, width, height, 1), Bytes(std::size_t(size), 0));
        ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap) << width;
        receiver.trim();
        EXPECT_EQ(decoded->bitmap->HDC() != 0, kept) << width;
    }
}

} // namespace
