// Participant picture steps the panel cannot show apart: expansion, centring, what is kept.

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

// plain, a raw bitmap, compressed, expanded and decoded; nothing when dropped.
std::optional<DecodedPicture> pass(participant::Receiver &receiver, std::int32_t origSize,
                                   std::int32_t width, std::int32_t height, const Bytes &plain)
{
    const auto received = receiver.expand({origSize, 0, width, height, 0, 0, 24, 1, 0},
                                          recvtest::zlibCompress(plain));
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
    // Input, OrigSize, the bytes the caller keeps, the count returned, whether traced.
    const std::tuple<const char *, Bytes, std::int32_t, std::int32_t, std::int32_t, bool> cases[]
        = {
            {"exact", packed, 10000, 10000, 10000, false},
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
    for (const auto &[name, input, origSize, room, expected, traced] : cases) {
        SCOPED_TRACE(name);
        platform::TraceSink::startCapture();
        Bytes out(std::size_t(room), 0xee);
        EXPECT_EQ(participant::DecompressData(input, origSize, out), expected);
        if (!traced && expected > 0) { // what was kept is the start of the expansion
            const auto kept = std::ptrdiff_t(std::min(out.size(), std::size_t(expected)));
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + kept, plain.begin()));
        }
        EXPECT_EQ(captured(), traced ? "WebCam DecompressData failed\n" : "");
    }
}

TEST(Receiver, RawRowsStopAtTheBitmapLeaveNothingOfAnEarlierPictureAndAreKeptWithinTheBound)
{
    participant::Receiver receiver;
    // More bytes than the 16-byte bitmap holds: the surplus is counted, not written past it.
    auto decoded = pass(receiver, 1000, 2, 2, Bytes(1000, 0x7f));
    ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap);
    cDibSection *bitmap = decoded->bitmap;
    EXPECT_TRUE(bitmap->TotalBytes() == 16
                && bitmap->DibPicture().pixel(1, 0) == qRgb(127, 127, 127));

    // The same size again reuses the bitmap; what short data leaves of it is cleared.
    decoded = pass(receiver, 3, 2, 2, Bytes(3, 0xff));
    ASSERT_TRUE(decoded && decoded->bitmap == bitmap);
    const QImage shown = bitmap->DibPicture(); // row 1: the bottom row
    EXPECT_EQ(std::vector({shown.pixel(0, 1), shown.pixel(1, 1), shown.pixel(1, 0)}),
              std::vector({qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(0, 0, 0)}));

    // 2048 x 1366 x 3 bytes is just past the bound; zeros compress to almost nothing.
    ASSERT_GT(std::size_t(2048 * 3 * 1366), participant::Receiver::kKeptBytes);
    for (const auto &[width, height, kept] : {std::tuple {2048, 1366, false}, {640, 480, true}}) {
        const std::int32_t size = width * 3 * height;
        decoded = pass(receiver, size, width, height, Bytes(std::size_t(size), 0));
        ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap) << width;
        receiver.trim();
        EXPECT_EQ(decoded->bitmap->HDC() != 0, kept) << width;
    }
}

} // namespace
