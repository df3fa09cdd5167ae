#pragma once

#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <span>

// The parent's side of the picture exchange, over the component's own block routines.

// Writes one picture block for UpdateParticipant. The block belongs to the writer: it stays
// until release() or destruction, which remove its name (call them after UpdateParticipant has
// returned: the component opens the block during the call and keeps its own view).
class ImageBlockWriter final
{
public:
    ImageBlockWriter() = default;
    ImageBlockWriter(const ImageBlockWriter &) = delete;
    ImageBlockWriter &operator=(const ImageBlockWriter &) = delete;

    struct Picture
    {
        std::span<const std::uint8_t> data;
        std::int32_t width = 0;
        std::int32_t height = 0;
        // 1 raw bottom-up rows (zlib), 2 picture file, 3 nothing to draw, 123 JPEG (zlib).
        std::int32_t pictureFormat = 2;
        // Size once expanded; -1 means the data is not compressed (data.size()).
        std::int32_t origSize = -1;
        std::int32_t destination = 8;
        std::int32_t bitsPerPixel = 24;
    };

    // Takes the next image number, creates its block and fills it. Returns the number, or 0 when
    // no block could be written (any earlier block of this writer is released first).
    std::int32_t write(const Picture &picture);
    std::int32_t imageNumber() const { return m_block.ImageNumber(); }
    void release() { m_block.release(); }

private:
    modImageMemMapFunctions::ImageBlock m_block;
};

struct ImageBlockCopy
{
    modImageMemMapFunctions::ImageHeader header;
    QByteArray data;
};

// Copies the block of a picture the component announced (WebCamSnapShot): call it inside the
// event handler, the block goes away once the event returns. nullopt when there is no such block,
// it is too short or its marker is not 32. The copy never reaches past the block's real end.
std::optional<ImageBlockCopy> readImageBlock(std::int32_t imgNumber);
