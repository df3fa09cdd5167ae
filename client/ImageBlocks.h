#pragma once

#include "VEDerEveClientExport.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <memory>
#include <optional>

// The parent's side of the picture exchange: pictures travel through named shared-memory blocks
// of the session's user, each a 24-byte header followed by the picture data.

// The header of an image block, as plain values (little-endian 32-bit fields at offsets 0, 4, 8,
// 12 and 16, then four bytes).
struct ImageBlockHeader
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

// Writes one picture block for UpdateParticipant. The block belongs to the writer: it stays
// until release() or destruction, which remove its name (call them after UpdateParticipant has
// returned: the component opens the block during the call and keeps its own view).
class VEDEREVE_CLIENT_EXPORT ImageBlockWriter final
{
public:
    ImageBlockWriter();
    ~ImageBlockWriter();
    ImageBlockWriter(ImageBlockWriter &&) noexcept;
    ImageBlockWriter &operator=(ImageBlockWriter &&) noexcept;
    ImageBlockWriter(const ImageBlockWriter &) = delete;
    ImageBlockWriter &operator=(const ImageBlockWriter &) = delete;

    struct Picture
    {
        QByteArrayView data;
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
    // The number of the block held now; 0 when none.
    std::int32_t imageNumber() const;
    void release();

private:
    struct Block;
    std::unique_ptr<Block> m_block;
};

struct ImageBlockCopy
{
    ImageBlockHeader header;
    // The 24 header bytes as they stand in the block: what WebCamSnapShot hands over as picHdr.
    QByteArray headerBytes;
    QByteArray data;
};

// Copies the block of a picture the component announced (WebCamSnapShot): call it inside the
// event handler, the block goes away once the event returns. nullopt when there is no such block,
// it is too short or its marker is not 32. The copy never reaches past the block's real end.
VEDEREVE_CLIENT_EXPORT std::optional<ImageBlockCopy> readImageBlock(std::int32_t imgNumber);
