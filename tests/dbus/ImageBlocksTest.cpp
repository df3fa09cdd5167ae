// The parent's picture helpers over the component's block routines.

#include "ImageBlocks.h"
#include "exchange/modImageMemMapFunctions.h"

#include <gtest/gtest.h>

#include <vector>

namespace mm = modImageMemMapFunctions;

TEST(ImageBlocks, WrittenBlockReadsBackAndVanishesOnTheNextWriteOrRelease)
{
    const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 1, 2, 3, 4, 5, 0xFF, 0xD9};
    ImageBlockWriter writer;
    const std::int32_t number = writer.write({jpeg, 176, 144, 2, -1, 8, 24});
    ASSERT_GT(number, 0);
    const std::optional<ImageBlockCopy> copy = readImageBlock(number);
    ASSERT_TRUE(copy.has_value());
    const auto &h = copy->header;
    EXPECT_EQ(std::vector<std::int32_t>({h.OrigSize, h.DataLength, h.Width, h.Height, h.ImageNumber,
                                         h.Destination, h.BitsPerPixel, h.PictureFormat, h.Marker}),
              std::vector<std::int32_t>({9, 9, 176, 144, number, 8, 24, 2, 32}));
    const mm::Header bytes = mm::BuildImageHeader(9, 9, 176, 144, number, 8, 24, 2, 32);
    EXPECT_EQ(copy->headerBytes, QByteArray(reinterpret_cast<const char *>(bytes.data()), 24));
    EXPECT_EQ(copy->data, QByteArray(reinterpret_cast<const char *>(jpeg.data()), 9));

    const std::int32_t next = writer.write({jpeg, 1, 1, 2, -1, 8, 24});
    EXPECT_GT(next, number);
    EXPECT_FALSE(readImageBlock(number).has_value());
    writer.release();
    EXPECT_FALSE(readImageBlock(next).has_value());
}

TEST(ImageBlocks, ReaderRefusesBlocksThatAreNotPicturesAndReadsNoFurtherThanTheBlock)
{
    const std::int32_t number = -7001;
    const std::uint32_t handle = mm::CreateImageBlock(number, 24 + 4);
    std::uint8_t *view = mm::MapImageBlock(handle);
    ASSERT_NE(view, nullptr);
    const std::uint8_t data[4] = {9, 9, 9, 9};
    mm::WriteImageBlock(view, mm::BuildImageHeader(4, 4, 1, 1, number, 8, 24, 2, 33), data);
    EXPECT_FALSE(readImageBlock(number).has_value()); // wrong marker
    // A header that claims more data than the block holds.
    mm::WriteImageBlock(view, mm::BuildImageHeader(4000, 4000, 1, 1, number, 8, 24, 2, 32), data);
    const std::optional<ImageBlockCopy> cut = readImageBlock(number);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->data.size(), 4);
    EXPECT_FALSE(readImageBlock(-7002).has_value());
    mm::UnmapViewOfFile(view);
    mm::CloseHandle(handle);
}
