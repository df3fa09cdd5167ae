#include "exchange/modImageMemMapFunctions.h"

#include "platform/core/FaultGuard.h"
#include "platform/shm/HandleTable.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>

namespace modImageMemMapFunctions {

namespace shm = platform::shm;

namespace {

std::uint32_t g_hHeaderMutex = 0;
std::uint32_t g_hHeaderMap = 0;
std::uint8_t *g_pHeaderView = nullptr;

void putLe32(std::uint8_t *out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::int32_t getLe32(const std::uint8_t *in)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= std::uint32_t(in[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

// The counter word is little-endian in the block, whatever the host.
constexpr std::uint32_t toLittleEndian(std::uint32_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        return value;
    else
        return __builtin_bswap32(value);
}
constexpr std::uint32_t fromLittleEndian(std::uint32_t value)
{
    return toLittleEndian(value);
}
static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free,
              "the counter is shared between processes and needs a lock-free atomic");

constexpr std::uint8_t byteOrZero(std::int32_t value)
{
    return value >= 0 && value <= 255 ? static_cast<std::uint8_t>(value) : 0;
}

} // namespace

const std::uint32_t &hHeaderMutex = g_hHeaderMutex;
const std::uint32_t &hHeaderMap = g_hHeaderMap;
std::uint8_t *const &pHeaderView = g_pHeaderView;

Header toBytes(const ImageHeader &header)
{
    Header bytes {};
    putLe32(&bytes[0], header.OrigSize);
    putLe32(&bytes[4], header.DataLength);
    putLe32(&bytes[8], header.Width);
    putLe32(&bytes[12], header.Height);
    putLe32(&bytes[16], header.ImageNumber);
    bytes[20] = header.Destination;
    bytes[21] = header.BitsPerPixel;
    bytes[22] = header.PictureFormat;
    bytes[23] = header.Marker;
    return bytes;
}

std::optional<ImageHeader> fromBytes(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kImageHeaderSize)
        return std::nullopt;
    ImageHeader header;
    header.OrigSize = getLe32(&bytes[0]);
    header.DataLength = getLe32(&bytes[4]);
    header.Width = getLe32(&bytes[8]);
    header.Height = getLe32(&bytes[12]);
    header.ImageNumber = getLe32(&bytes[16]);
    header.Destination = bytes[20];
    header.BitsPerPixel = bytes[21];
    header.PictureFormat = bytes[22];
    header.Marker = bytes[23];
    return header;
}

namespace {

// The process's share of the header: how many users hold it. The lock also covers the handles
// and the view, and it is jump-safe: a fault inside NextImageNumber must not leave it taken.
struct Owner
{
    platform::JumpSafeMutex lock;
    int users = 0;
};

// Never destroyed: users that live in static objects may still close their share at exit.
Owner &owner()
{
    static Owner *const instance = new Owner;
    return *instance;
}

void closeBlock()
{
    if (g_pHeaderView != nullptr)
        shm::unmapView(std::exchange(g_pHeaderView, nullptr));
    if (g_hHeaderMap != 0)
        shm::closeHandle(std::exchange(g_hHeaderMap, 0));
}

// Opens whatever of the mutex and the block is not open. A new object is zero-filled, which is
// the counter's starting value. Growing a short block (its creator may not have sized it yet, or
// someone shrank it) never shrinks it nor touches bytes already there, so racing openers cannot
// reset a counter in use.
void openMissing()
{
    if (g_hHeaderMutex == 0)
        g_hHeaderMutex = shm::openMutex(kHeaderMutexName);
    if (g_hHeaderMutex == 0)
        g_hHeaderMutex = shm::createMutex(kHeaderMutexName);
    if (g_pHeaderView != nullptr)
        return;
    closeBlock();
    g_hHeaderMap = shm::createMapping(kHeaderBlockName, kHeaderBlockSize, shm::NameOnRelease::Keep);
    if (g_hHeaderMap == 0)
        return;
    if (shm::growMapping(g_hHeaderMap, kHeaderBlockSize) != 0) {
        shm::closeHandle(std::exchange(g_hHeaderMap, 0));
        return;
    }
    g_pHeaderView = static_cast<std::uint8_t *>(shm::mapView(g_hHeaderMap));
}

void closeAll()
{
    if (g_hHeaderMutex != 0)
        shm::closeHandle(std::exchange(g_hHeaderMutex, 0));
    closeBlock();
}

// Whether the counter word can be touched now. The block's real size is asked for, not the size
// of the view: touching a page that the object no longer backs is a fault.
bool counterUsable(std::size_t *shrunkTo)
{
    if (g_pHeaderView != nullptr) {
        const std::size_t size = shm::mappingSize(g_hHeaderMap);
        if (size >= sizeof(std::uint32_t))
            return true;
        if (shrunkTo)
            *shrunkTo = size;
        closeBlock();
    }
    openMissing();
    return g_pHeaderView != nullptr && shm::mappingSize(g_hHeaderMap) >= sizeof(std::uint32_t);
}

void unlockCounterMutex(void *)
{
    shm::unlockMutex(g_hHeaderMutex);
}

std::int32_t takeNumber(std::size_t *shrunkTo)
{
    if (!counterUsable(shrunkTo))
        return 0;
    const bool locked = shm::lockMutex(g_hHeaderMutex, kCounterWaitMs) == 0;
    // Only a block shrunk in the instant since the check can fault below; other processes must
    // then still get the mutex.
    std::optional<platform::FaultGuard::OnAbandon> unlockOnFault;
    if (locked)
        unlockOnFault.emplace(&unlockCounterMutex, nullptr);
    // The view starts on a page boundary, so the counter word is aligned for an atomic.
    std::atomic_ref<std::uint32_t> counter(*reinterpret_cast<std::uint32_t *>(g_pHeaderView));
    std::uint32_t seen = counter.load();
    std::int32_t next = 0;
    do {
        const auto last = static_cast<std::int32_t>(fromLittleEndian(seen));
        next = (last < 0 || last == std::numeric_limits<std::int32_t>::max()) ? 1 : last + 1;
    } while (!counter.compare_exchange_weak(seen, toLittleEndian(std::uint32_t(next))));
    if (locked) {
        unlockOnFault.reset();
        shm::unlockMutex(g_hHeaderMutex);
    }
    return next;
}

// The share of OpenSharedHeader and its siblings; never destroyed, like the owner.
SharedHeaderUse &processUse()
{
    static SharedHeaderUse *const instance = new SharedHeaderUse;
    return *instance;
}

} // namespace

void SharedHeaderUse::Open()
{
    const std::lock_guard guard(owner().lock);
    if (!m_open) {
        m_open = true;
        ++owner().users;
    }
    openMissing();
}

void SharedHeaderUse::Close()
{
    const std::lock_guard guard(owner().lock);
    if (!m_open)
        return;
    m_open = false;
    if (--owner().users == 0)
        closeAll();
}

std::int32_t SharedHeaderUse::NextImageNumber(std::size_t *shrunkTo) const
{
    if (!m_open)
        return 0;
    const std::lock_guard guard(owner().lock);
    return takeNumber(shrunkTo);
}

void OpenSharedHeader()
{
    processUse().Open();
}

void CloseSharedHeader()
{
    processUse().Close();
}

std::int32_t NextImageNumber()
{
    return processUse().NextImageNumber();
}

std::string ImageBlockName(std::int32_t imgNumber)
{
    return kImageBlockPrefix + std::to_string(imgNumber);
}

std::uint32_t CreateImageBlock(std::int32_t imgNumber, std::int64_t size, bool *nameTaken)
{
    if (nameTaken)
        *nameTaken = false;
    if (imgNumber == 0 || size <= 0 || size > kMaxImageBlockSize)
        return 0;
    return shm::createNewMapping(ImageBlockName(imgNumber), std::size_t(size),
                                 shm::NameOnRelease::Unlink, nameTaken);
}

std::uint32_t OpenImageBlock(std::int32_t imgNumber)
{
    return shm::openMapping(ImageBlockName(imgNumber));
}

std::uint8_t *MapImageBlock(std::uint32_t handle)
{
    return static_cast<std::uint8_t *>(shm::mapView(handle));
}

bool UnmapViewOfFile(const void *view)
{
    return shm::unmapView(view);
}

bool CloseHandle(std::uint32_t handle)
{
    return shm::closeHandle(handle);
}

std::size_t ViewSize(const void *address)
{
    return shm::viewSize(address);
}

Header BuildImageHeader(std::int32_t origSize, std::int32_t dataLength, std::int32_t width,
                        std::int32_t height, std::int32_t imageNumber, std::int32_t destination,
                        std::int32_t bitsPerPixel, std::int32_t pictureFormat, std::int32_t marker)
{
    return toBytes(ImageHeader {origSize, dataLength, width, height, imageNumber,
                                byteOrZero(destination), byteOrZero(bitsPerPixel),
                                byteOrZero(pictureFormat), byteOrZero(marker)});
}

std::int32_t GetHeaderField(std::span<const std::uint8_t> header, std::int32_t offset)
{
    if (offset >= 0 && offset <= 16 && offset % 4 == 0) {
        if (header.size() < std::size_t(offset) + 4)
            return 0;
        return getLe32(&header[std::size_t(offset)]);
    }
    if (offset >= 20 && offset <= 23 && header.size() > std::size_t(offset))
        return header[std::size_t(offset)];
    return 0;
}

std::int64_t WriteImageBlock(std::uint8_t *view, const Header &header,
                             std::span<const std::uint8_t> data)
{
    const std::size_t size = shm::viewSize(view);
    if (size < kImageHeaderSize)
        return -1;
    std::memcpy(view, header.data(), kImageHeaderSize);
    const std::size_t count = std::min(data.size(), size - kImageHeaderSize);
    if (count > 0)
        std::memcpy(view + kImageHeaderSize, data.data(), count);
    return std::int64_t(count);
}

std::optional<ImageBlockContents> ReadImageBlock(const std::uint8_t *view)
{
    const std::size_t size = shm::viewSize(view);
    if (size < kImageHeaderSize)
        return std::nullopt;
    const auto header = fromBytes(std::span(view, kImageHeaderSize));
    const std::size_t claimed = header->DataLength > 0 ? std::size_t(header->DataLength) : 0;
    const std::size_t count = std::min(claimed, size - kImageHeaderSize);
    return ImageBlockContents {*header, std::span(view + kImageHeaderSize, count)};
}

} // namespace modImageMemMapFunctions
