#include "ImageBlocks.h"

#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"

#include <span>

namespace mm = modImageMemMapFunctions;

struct ImageBlockWriter::Block
{
    mm::ImageBlock block;
};

ImageBlockWriter::ImageBlockWriter() : m_block(std::make_unique<Block>())
{ }
ImageBlockWriter::~ImageBlockWriter() = default;
ImageBlockWriter::ImageBlockWriter(ImageBlockWriter &&) noexcept = default;
ImageBlockWriter &ImageBlockWriter::operator=(ImageBlockWriter &&) noexcept = default;

std::int32_t ImageBlockWriter::imageNumber() const
{
    return m_block ? m_block->block.ImageNumber() : 0;
}

void ImageBlockWriter::release()
{
    if (m_block)
        m_block->block.release();
}

std::int32_t ImageBlockWriter::write(const Picture &picture)
{
    release();
    if (!m_block)
        m_block = std::make_unique<Block>();
    if (std::size_t(picture.data.size())
        > std::size_t(mm::kMaxImageBlockSize - mm::kImageHeaderSize))
        return 0;
    const auto length = std::int32_t(picture.data.size());
    mm::OpenSharedHeader();
    // A name that exists already (a rewound counter, a squatter) is skipped, never written.
    std::int32_t number = 0;
    mm::ImageBlock block = mm::ImageBlock::createNext([] { return mm::NextImageNumber(); },
                                                      std::int64_t(length) + 24, &number);
    const mm::Header header = mm::BuildImageHeader(
        picture.origSize < 0 ? length : picture.origSize, length, picture.width, picture.height,
        number, picture.destination, picture.bitsPerPixel, picture.pictureFormat, mm::kImageMarker);
    if (!block
        || !block.fill(header,
                       std::span(reinterpret_cast<const std::uint8_t *>(picture.data.data()),
                                 std::size_t(length))))
        return 0;
    m_block->block = std::move(block);
    return number;
}

std::optional<ImageBlockCopy> readImageBlock(std::int32_t imgNumber)
{
    const mm::ImageBlock block = mm::ImageBlock::open(imgNumber);
    mm::Header bytes {};
    if (!block || block.read(0, bytes) != bytes.size())
        return std::nullopt;
    const std::optional<mm::ImageHeader> header = mm::fromBytes(bytes);
    if (!header || header->Marker != mm::kImageMarker)
        return std::nullopt;
    // Never past the block's real end, whatever the header claims.
    const std::size_t available = block.size() - mm::kImageHeaderSize;
    const std::size_t claimed = header->DataLength > 0 ? std::size_t(header->DataLength) : 0;
    QByteArray data(qsizetype(std::min(claimed, available)), Qt::Uninitialized);
    const std::size_t got = block.read(
        mm::kImageHeaderSize,
        std::span(reinterpret_cast<std::uint8_t *>(data.data()), std::size_t(data.size())));
    data.truncate(qsizetype(got));
    const ImageBlockHeader plain {header->OrigSize,     header->DataLength,    header->Width,
                                  header->Height,       header->ImageNumber,   header->Destination,
                                  header->BitsPerPixel, header->PictureFormat, header->Marker};
    return ImageBlockCopy {plain,
                           QByteArray(reinterpret_cast<const char *>(bytes.data()), bytes.size()),
                           std::move(data)};
}
