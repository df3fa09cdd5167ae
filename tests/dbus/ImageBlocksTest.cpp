// The parent's picture helpers over the component's block routines.

#include "ImageBlocks.h"
#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"

#include <gtest/gtest.h>

namespace mm = modImageMemMapFunctions;

TEST(ImageBlocks, WrittenBlockReadsBackUntilTheNextWriteOrReleaseAndOnlyPicturesAreRead)
{
    const QByteArray jpeg("\xFF\xD8\1\2\3\4\5\xFF\xD9", 9);
    ImageBlockWriter writer;
    const std::int32_t number = writer.write({jpeg, 176, 144, 2, -1, 8, 24});
    ASSERT_GT(number, 0);
    const std::optional<ImageBlockCopy> copy = readImageBlock(number);
    ASSERT_TRUE(copy.has_value());
    const mm::Header bytes = mm::BuildImageHeader(9, 9, 176, 144, number, 8, 24, 2, 32);
    EXPECT_EQ(copy->headerBytes, QByteArray(reinterpret_cast<const char *>(bytes.data()), 24));
    EXPECT_EQ(
        std::tuple(copy->header.OrigSize, copy->header.Height, copy->header.Marker, copy->data),
        std::tuple(9, 144, 32, jpeg));

    const std::int32_t next = writer.write({jpeg, 1, 1});
    EXPECT_TRUE(next > number && !readImageBlock(number));
    // A block whose marker is not 32 is no picture.
    const mm::ImageBlock other = mm::ImageBlock::create(-7001, 24 + 4);
    ASSERT_TRUE(other);
    const std::uint8_t data[4] = {9, 9, 9, 9};
    mm::WriteImageBlock(other.MapView(), mm::BuildImageHeader(4, 4, 1, 1, -7001, 8, 24, 2, 33),
                        data);
    EXPECT_FALSE(readImageBlock(-7001).has_value());
    writer.release();
    EXPECT_FALSE(readImageBlock(next).has_value());
}
