#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "exchange/modImageMemMapFunctions.h"

namespace modImageMemMapFunctions {

// One image block as this process holds it: the mapping handle and, for a block made by create(),
// the mapped view. Move-only; release() (and destruction) unmaps the view and closes the handle,
// each only when set, which removes the block's name when this process created it. Every holder of
// a block uses this one class: the held still picture, the queued participant pictures, a camera
// frame's block for the length of its event, and the parent-side client.
class ImageBlock final
{
public:
    ImageBlock() = default;
    ~ImageBlock() { release(); }
    ImageBlock(ImageBlock &&other) noexcept;
    ImageBlock &operator=(ImageBlock &&other) noexcept;
    ImageBlock(const ImageBlock &) = delete;
    ImageBlock &operator=(const ImageBlock &) = delete;

    // CreateImageBlock(imgNumber, size) then MapImageBlock: a block to write. Empty when either
    // step fails (a created handle is closed again).
    static ImageBlock create(std::int32_t imgNumber, std::int64_t size);
    // How many numbers createNext() takes before it gives up: a stretch of names that long held by
    // others is no accident, and each try costs a number of the machine-wide counter.
    static constexpr int kMaxNumberTries = 16;
    // A new block under the next free number, for a writer whose header carries the number: takes
    // numbers from next() and creates the block of size bytes under the first whose name nobody
    // holds (a rewound counter, another process squatting names). Not mapped, nothing written.
    // Empty when next() gives 0, when a creation fails for another reason than a taken name, or
    // when kMaxNumberTries numbers were all taken; *lastNumber receives the last number taken.
    static ImageBlock createNext(const std::function<std::int32_t()> &next, std::int64_t size,
                                 std::int32_t *lastNumber = nullptr);
    // Writes header and data through the descriptor of a block made by createNext(), for a block
    // nobody here writes again (a camera frame's, one a parent hands over); false, and the block
    // released, when it cannot take everything.
    bool fill(const Header &header, std::span<const std::uint8_t> data);
    // Maps a block made by createNext() for writing; false, and the block released, on failure.
    bool map();
    // OpenImageBlock(imgNumber): a block to read with read(), not mapped. Empty when there is no
    // such block of ours.
    static ImageBlock open(std::int32_t imgNumber);

    explicit operator bool() const { return m_handle != 0; }
    // The names the trace and the routines use for the held block and the queue items.
    std::uint32_t MapHandle() const { return m_handle; }
    std::uint8_t *MapView() const { return m_view; }
    std::int32_t ImageNumber() const { return m_imageNumber; }

    // The block's real size now; 0 for an empty holder.
    std::size_t size() const;
    // Copies up to out.size() bytes from offset and returns how many it copied. Reads go through
    // the descriptor rather than a mapping, so a block that its owner shrinks meanwhile gives a
    // short read, never a fault.
    std::size_t read(std::size_t offset, std::span<std::uint8_t> out) const;

    void release();

private:
    std::uint32_t m_handle = 0;
    std::uint8_t *m_view = nullptr;
    std::int32_t m_imageNumber = 0;
};

} // namespace modImageMemMapFunctions
