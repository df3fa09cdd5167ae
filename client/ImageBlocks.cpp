#include "ImageBlocks.h"

namespace mm = modImageMemMapFunctions;

ImageBlockWriter::~ImageBlockWriter()
{
    release();
}

void ImageBlockWriter::release()
{
    if (m_view) {
        mm::UnmapViewOfFile(m_view);
        m_view = nullptr;
    }
    if (m_handle) {
        mm::CloseHandle(m_handle);
        m_handle = 0;
    }
    m_imageNumber = 0;
}

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
    m_handle = mm::CreateImageBlock(number, std::int64_t(length) + mm::kImageHeaderSize);
    if (!m_handle)
        return 0;
    m_view = mm::MapImageBlock(m_handle);
    if (!m_view) {
        release();
        return 0;
    }
    const mm::Header header = mm::BuildImageHeader(
        picture.origSize < 0 ? length : picture.origSize, length, picture.width, picture.height,
        number, picture.destination, picture.bitsPerPixel, picture.pictureFormat, mm::kImageMarker);
    if (mm::WriteImageBlock(m_view, header, picture.data) != length) {
        release();
        return 0;
    }
    m_imageNumber = number;
    return number;
}

std::optional<ImageBlockCopy> readImageBlock(std::int32_t imgNumber)
{
    const std::uint32_t handle = mm::OpenImageBlock(imgNumber);
    if (!handle)
        return std::nullopt;
    std::optional<ImageBlockCopy> copy;
    if (const std::uint8_t *view = mm::MapImageBlock(handle)) {
        const std::optional<mm::ImageBlockContents> contents = mm::ReadImageBlock(view);
        if (contents && contents->header.Marker == mm::kImageMarker) {
            copy = ImageBlockCopy {contents->header,
                                   QByteArray(reinterpret_cast<const char *>(contents->data.data()),
                                              qsizetype(contents->data.size()))};
        }
        mm::UnmapViewOfFile(view);
    }
    mm::CloseHandle(handle);
    return copy;
}
