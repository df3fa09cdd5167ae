#include "exchange/Sender.h"

#include "base/DebugTrace.h"
#include "exchange/EncodeJpeg.h"
#include "exchange/ParticipantDecode.h"
#include "platform/core/System.h"
#include "support/cDibSection.h"

namespace exchange {

namespace mm = modImageMemMapFunctions;
using DebugTrace::Trace;

// Unsigned differences of the tick count are the milliseconds between, across its wrap.
bool TransmitPacing::showsSending(std::uint32_t now, std::int32_t interval) const
{
    return interval == 0 || (LastSent && now - *LastSent < 1000u);
}

bool TransmitPacing::slotDue(std::uint32_t now, std::int32_t interval) const
{
    return !LastSent || std::int64_t(now - *LastSent) > interval;
}

Sender::Slot Sender::slot(std::int32_t interval, bool mayPost) const
{
    const std::uint32_t now = platform::tickCount();
    const bool due = m_pacing.slotDue(now, interval);
    return {m_pacing.showsSending(now, interval), due, due && mayPost};
}

void Sender::slotTaken()
{
    m_pacing.slotTaken(platform::tickCount());
}

struct Sender::Numbered
{
    std::int32_t number = 0;
    mm::Header header {};
    mm::ImageBlock block;
};

Sender::Numbered Sender::numberAndWrite(const std::vector<std::uint8_t> &jpeg, std::int32_t width,
                                        std::int32_t height, std::int32_t destination,
                                        bool cameraFrame)
{
    Numbered out;
    out.number = mm::NextImageNumber();
    if (cameraFrame)
        Trace("WebCam tmrMain - Aquired image number ", out.number);
    const auto length = std::int32_t(jpeg.size());
    out.header = mm::toBytes({
        .OrigSize = length,
        .DataLength = length,
        .Width = width,
        .Height = height,
        .ImageNumber = out.number,
        // A code that is no byte leaves the byte 0, as every header writer does.
        .Destination = std::uint8_t(destination >= 0 && destination <= 255 ? destination : 0),
        .BitsPerPixel = 24,
        .PictureFormat = participant::PictureFile,
        .Marker = mm::kImageMarker,
    });
    if (cameraFrame) {
        // Written once through its descriptor and never mapped: nobody here touches it again.
        out.block = mm::ImageBlock::createFilled(out.number, out.header, jpeg);
    } else {
        // The held picture stays mapped for as long as it is held.
        out.block = mm::ImageBlock::create(out.number, std::int64_t(length) + 24);
        if (out.block)
            mm::WriteImageBlock(out.block.MapView(), out.header, jpeg);
    }
    return out;
}

bool Sender::sendFrame(const cDibSection &frame, std::int32_t destination)
{
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(frame, true);
    if (jpeg.empty())
        return true;
    Trace("WebCam tmrMain - Compress Transport Start");
    Numbered out = numberAndWrite(jpeg, frame.Width(), frame.Height(), destination, true);
    if (!out.block)
        return false;
    Trace("WebCam tmrMain - Map written, calling parent WebCamSnapShot");
    QByteArray picHdr(reinterpret_cast<const char *>(out.header.data()),
                      qsizetype(out.header.size()));
    // The parent reads the block while it handles the event; it goes when the event returns.
    m_announce(picHdr, out.number);
    out.block.release();
    Trace("WebCam tmrMain - Compress Transport End, address unmapped, handle closed for image ",
          out.number, ", exiting");
    return true;
}

bool Sender::holdPicture(const cDibSection &picture)
{
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(picture, false);
    if (jpeg.empty())
        return false;
    releaseHeld();
    // Still pictures go to the participant area whatever the frames' destination.
    Numbered out = numberAndWrite(jpeg, picture.Width(), picture.Height(),
                                  participant::kParticipantDestination, false);
    // Held, and announced, even when its block could not be made: the parent then finds none.
    m_heldNumber = out.number;
    m_heldBlock = std::move(out.block);
    m_heldHeader = QByteArray(reinterpret_cast<const char *>(out.header.data()),
                              qsizetype(out.header.size()));
    return true;
}

void Sender::releaseHeld()
{
    m_heldBlock.release();
    m_heldNumber = 0;
}

} // namespace exchange
