#include "ImageBlocks.h"

namespace mm = modImageMemMapFunctions;

std::int32_t ImageBlockWriter::write(const Picture &picture)
{
    release();
    if (picture.data.size() > std::size_t(mm::kMaxImageBlockSize - mm::kImageHeaderSize))
        return 0;
    const auto length = std::int32_t(picture.data.size());
    if (!mm::pHeaderView)
        mm::OpenSharedHeader();
    const std::int32_t number = mm::NextImageNumber();
    if (number == 0)
        return 0;
    const mm::Header header = mm::BuildImageHeader(
        picture.origSize < 0 ? length : picture.origSize, length, picture.width, picture.height,
        number, picture.destination, picture.bitsPerPixel, picture.pictureFormat, mm::kImageMarker);
    mm::ImageBlock block = mm::ImageBlock::createFilled(number, header, picture.data);
    if (!block)
        return 0;
    m_block = std::move(block);
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
    return ImageBlockCopy {*header, std::move(data)};
}
