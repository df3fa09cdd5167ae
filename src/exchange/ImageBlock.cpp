#include "exchange/ImageBlock.h"

#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"

#include <utility>

namespace modImageMemMapFunctions {

ImageBlock::ImageBlock(ImageBlock &&other) noexcept
    : m_handle(std::exchange(other.m_handle, 0)), m_view(std::exchange(other.m_view, nullptr)),
      m_imageNumber(std::exchange(other.m_imageNumber, 0))
{ }

ImageBlock &ImageBlock::operator=(ImageBlock &&other) noexcept
{
    if (this != &other) {
        release();
        m_handle = std::exchange(other.m_handle, 0);
        m_view = std::exchange(other.m_view, nullptr);
        m_imageNumber = std::exchange(other.m_imageNumber, 0);
    }
    return *this;
}

ImageBlock ImageBlock::create(std::int32_t imgNumber, std::int64_t size)
{
    ImageBlock block;
    block.m_handle = CreateImageBlock(imgNumber, size);
    if (!block.m_handle || !block.map())
        return {};
    block.m_imageNumber = imgNumber;
    return block;
}

ImageBlock ImageBlock::createNext(const std::function<std::int32_t()> &next, std::int64_t size,
                                  std::int32_t *lastNumber)
{
    ImageBlock block;
    for (int attempt = 0; attempt < kMaxNumberTries; ++attempt) {
        const std::int32_t number = next();
        if (lastNumber)
            *lastNumber = number;
        bool taken = false;
        block.m_handle = CreateImageBlock(number, size, &taken);
        if (block.m_handle) {
            block.m_imageNumber = number;
            break;
        }
        if (!taken)
            break;
    }
    return block;
}

bool ImageBlock::fill(const Header &header, std::span<const std::uint8_t> data)
{
    // One positional write for header and data.
    const long long written = platform::shm::writeMapping(m_handle, 0, {header, data});
    if (written >= 0 && std::size_t(written) == header.size() + data.size())
        return true;
    release();
    return false;
}

bool ImageBlock::map()
{
    m_view = MapImageBlock(m_handle);
    if (m_view)
        return true;
    release();
    return false;
}

ImageBlock ImageBlock::open(std::int32_t imgNumber)
{
    ImageBlock block;
    block.m_handle = OpenImageBlock(imgNumber);
    if (block.m_handle)
        block.m_imageNumber = imgNumber;
    return block;
}

std::size_t ImageBlock::size() const
{
    return platform::shm::mappingSize(m_handle);
}

std::size_t ImageBlock::read(std::size_t offset, std::span<std::uint8_t> out) const
{
    if (!m_handle || out.empty())
        return 0;
    const long long n = platform::shm::readMapping(m_handle, offset, out.data(), out.size());
    return n > 0 ? std::size_t(n) : 0;
}

void ImageBlock::release()
{
    if (m_view) {
        UnmapViewOfFile(m_view);
        m_view = nullptr;
    }
    if (m_handle) {
        CloseHandle(m_handle);
        m_handle = 0;
    }
    m_imageNumber = 0;
}

} // namespace modImageMemMapFunctions
