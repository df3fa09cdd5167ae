#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

// The named shared memory through which pictures travel between the component and its parent:
// the header block "dirUzevevav" with the machine-wide image counter, guarded by the named mutex
// "ridEvadezaz", and one image block "DADevev<number>" per picture (a 24-byte header, then the
// data). The parent-side client library uses this same code to write and read blocks.
//
// Handles are 32-bit values, 0 meaning none; views are plain pointers. No routine reports an
// error: a failure shows as a 0 (or null, or false) result. All names live in the per-user shm
// namespace (see platform/shm/ShmName.h).
//
// The mutex lives in a small shared-memory object of its own (not inside the header block), so
// that the header block stays a plain 4096-byte area that any parent can map.
namespace modImageMemMapFunctions {

// Header layout of an image block, all multi-byte fields little-endian.
struct ImageHeader
{
    std::int32_t OrigSize = 0;
    std::int32_t DataLength = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t ImageNumber = 0;
    std::uint8_t Destination = 0;
    std::uint8_t BitsPerPixel = 0;
    std::uint8_t PictureFormat = 0;
    std::uint8_t Marker = 0;
};
static_assert(std::is_standard_layout_v<ImageHeader>);
static_assert(sizeof(ImageHeader) == 24);

inline constexpr std::size_t kImageHeaderSize = 24;
inline constexpr std::size_t kHeaderBlockSize = 4096;
inline constexpr std::uint8_t kImageMarker = 32;
// Largest image block we create: far above any picture of the component (a raw 4K frame is
// about 25 MB) while an overflowed or hostile size cannot exhaust memory.
inline constexpr std::int64_t kMaxImageBlockSize = 256LL * 1024 * 1024;
// Longest wait for the counter mutex in NextImageNumber; the count goes on after it either way.
inline constexpr int kCounterWaitMs = 200;

inline constexpr const char *kHeaderBlockName = "dirUzevevav";
inline constexpr const char *kHeaderMutexName = "ridEvadezaz";
inline constexpr const char *kImageBlockPrefix = "DADevev";

using Header = std::array<std::uint8_t, kImageHeaderSize>;

Header toBytes(const ImageHeader &header);
// nullopt when fewer than 24 bytes are given.
std::optional<ImageHeader> fromBytes(std::span<const std::uint8_t> bytes);

// Process-wide state, read-only to users: 0 until the process's first user opens the shared
// header and again after its last user closed it.
extern const std::uint32_t &hHeaderMutex;
extern const std::uint32_t &hHeaderMap;
extern std::uint8_t *const &pHeaderView;

// One user's share of the process's shared header (each panel has one). The header block and the
// mutex belong to the process: the first user to open opens them, and they stay open until the
// last user closes, so that one object's shutdown never takes the counter from another object of
// the same server that is still sending.
class SharedHeaderUse final
{
public:
    SharedHeaderUse() = default;
    ~SharedHeaderUse() { Close(); }
    SharedHeaderUse(const SharedHeaderUse &) = delete;
    SharedHeaderUse &operator=(const SharedHeaderUse &) = delete;

    // Joins the users, opening the mutex and the block (each created when it does not exist) when
    // they are not open. A new header block starts with LastImageNumber 0; an existing one keeps
    // its counter. A failed open leaves the process's handle or view concerned at 0 and is tried
    // again by the next number. Harmless while this user is open already.
    void Open();
    // Leaves the users; the last one out closes the mutex, unmaps the view and closes the block.
    // Neither name is removed: other processes keep using the same counter. Harmless when called
    // twice or without an Open.
    void Close();
    bool IsOpen() const { return m_open; }

    // Hands out the next image number, 0 for a user that is not open: the counter at offset 0 of
    // the header block is incremented under the mutex, waiting at most kCounterWaitMs for it (a
    // mutex left by a dead holder is recovered). When the wait runs out, or there is no mutex, the
    // counter is incremented anyway: a picture must not be lost to a slow or stuck peer. The
    // increment is one atomic compare-and-swap on the shared word, so processes that use this
    // code never get the same number even then. 0 is never handed out: after 2147483647, or from
    // a counter that reads 0 or less, the next number is 1.
    //
    // The block is checked as it is now, not as it was when mapped: one that another process of
    // this user shrank under the counter is opened again (which grows it back) and *shrunkTo
    // receives the size it was found at; one that still cannot hold the counter gives 0,
    // counting nothing. Callers treat 0 like a failing block, as a skipped picture. Should the
    // block shrink in the instant between that check and the increment, a guard around the
    // caller takes the fault and the mutex is handed back on the way out.
    std::int32_t NextImageNumber(std::size_t *shrunkTo = nullptr) const;

private:
    bool m_open = false;
};

// The routines of one process-wide user, for code that needs no share of its own (the parent-side
// client, tools, tests): OpenSharedHeader joins it, CloseSharedHeader leaves it.
void OpenSharedHeader();
void CloseSharedHeader();
std::int32_t NextImageNumber();

// "DADevev" followed by the plain decimal number ("-" for negative numbers).
std::string ImageBlockName(std::int32_t imgNumber);

// Creates image block imgNumber with size bytes and returns its handle; 0 for number 0 (the
// number that means "none" to every caller), when size <= 0 or above kMaxImageBlockSize, or when
// the system refuses. A block of that name that exists already is never handed back, whoever
// made it: a writer must not write into a block somebody may be reading, nor announce one whose
// size its header does not describe. *nameTaken tells whether that was the refusal. The name is
// removed when the creating process closes this handle; a reader that mapped the block before
// keeps its view.
std::uint32_t CreateImageBlock(std::int32_t imgNumber, std::int64_t size,
                               bool *nameTaken = nullptr);
// Opens an existing image block of our own user; 0 when there is none. Closing this handle never
// removes the block.
std::uint32_t OpenImageBlock(std::int32_t imgNumber);
// Maps the whole block; nullptr on failure. ViewSize() tells how many bytes it has.
std::uint8_t *MapImageBlock(std::uint32_t handle);
// Unmaps a view from MapImageBlock; false when view is not one.
bool UnmapViewOfFile(const void *view);
// Closes a block or mutex handle; false for 0 or an unknown handle.
bool CloseHandle(std::uint32_t handle);
// Bytes mapped from address to the end of its view (the object's real size for a view's start);
// 0 when address lies in no view.
std::size_t ViewSize(const void *address);

// The 24 header bytes: the first five values at offsets 0, 4, 8, 12, 16 (little-endian), the
// last four as bytes at 20..23; a byte value outside 0..255 leaves its byte 0.
Header BuildImageHeader(std::int32_t origSize, std::int32_t dataLength, std::int32_t width,
                        std::int32_t height, std::int32_t imageNumber, std::int32_t destination,
                        std::int32_t bitsPerPixel, std::int32_t pictureFormat, std::int32_t marker);
// The 32-bit field at offset 0, 4, 8, 12 or 16, the byte at 20..23; 0 for any other offset and
// for a field that lies beyond the given bytes.
std::int32_t GetHeaderField(std::span<const std::uint8_t> header, std::int32_t offset);

// Writes header and data into a view, as far as the view reaches. Returns the number of data
// bytes written, or -1 when the view cannot even hold the header.
std::int64_t WriteImageBlock(std::uint8_t *view, const Header &header,
                             std::span<const std::uint8_t> data);

struct ImageBlockContents
{
    ImageHeader header;
    // DataLength bytes from offset 24, cut at the real end of the block. Points into the view.
    std::span<const std::uint8_t> data;
};
// Reads a mapped block, bounded by its real size whatever its header claims (a negative
// DataLength reads nothing). nullopt when view is no view or holds fewer than 24 bytes.
std::optional<ImageBlockContents> ReadImageBlock(const std::uint8_t *view);

} // namespace modImageMemMapFunctions
