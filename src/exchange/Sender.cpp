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

std::int32_t Sender::numberAndWrite(mm::ImageBlock &block, mm::Header &header,
                                    const std::vector<std::uint8_t> &jpeg, std::int32_t width,
                                    std::int32_t height, std::int32_t destination, bool cameraFrame)
{
    const auto next = [&] {
        constexpr std::size_t kNotShrunk = std::size_t(-1);
        std::size_t shrunkTo = kNotShrunk;
        const std::int32_t number = m_header.NextImageNumber(&shrunkTo);
        if (shrunkTo != kNotShrunk)
            Trace("WebCam shared header shrank to ", shrunkTo, " bytes, opened again");
        if (cameraFrame)
            Trace("WebCam tmrMain - Aquired image number ", number);
        return number;
    };
    const auto length = std::int32_t(jpeg.size());
    std::int32_t number = 0;
    block = mm::ImageBlock::createNext(next, std::int64_t(length) + 24, &number);
    header = mm::toBytes({
        .OrigSize = length,
        .DataLength = length,
        .Width = width,
        .Height = height,
        .ImageNumber = number,
        // A code that is no byte leaves the byte 0, as every header writer does.
        .Destination = std::uint8_t(destination >= 0 && destination <= 255 ? destination : 0),
        .BitsPerPixel = 24,
        .PictureFormat = participant::PictureFile,
        .Marker = mm::kImageMarker,
    });
    if (!block)
        return number;
    // A frame's block is written once through its descriptor and never mapped: nobody here
    // touches it again. The held picture stays mapped for as long as it is held.
    if (cameraFrame)
        block.fill(header, jpeg);
    else if (block.map())
        mm::WriteImageBlock(block.MapView(), header, jpeg);
    return number;
}

bool Sender::sendFrame(const cDibSection &frame, std::int32_t destination)
{
    m_sending.release();
    m_jpeg = EncodeJpeg(frame, true);
    if (m_jpeg.empty())
        return true;
    Trace("WebCam tmrMain - Compress Transport Start");
    mm::Header header {};
    const std::int32_t number = numberAndWrite(m_sending, header, m_jpeg, frame.Width(),
                                               frame.Height(), destination, true);
    if (!m_sending)
        return false;
    Trace("WebCam tmrMain - Map written, calling parent WebCamSnapShot");
    m_picHdr = QByteArray(reinterpret_cast<const char *>(header.data()), qsizetype(header.size()));
    // The parent reads the block while it handles the event; it goes when the event returns.
    m_announce(m_picHdr, number);
    m_sending.release();
    Trace("WebCam tmrMain - Compress Transport End, address unmapped, handle closed for image ",
          number, ", exiting");
    return true;
}

bool Sender::holdPicture(const cDibSection &picture)
{
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(picture, false);
    if (jpeg.empty())
        return false;
    releaseHeld();
    // Still pictures go to the participant area whatever the frames' destination. Held, and
    // announced, even when its block could not be made: the parent then finds none.
    mm::Header header {};
    m_heldNumber = numberAndWrite(m_heldBlock, header, jpeg, picture.Width(), picture.Height(),
                                  participant::kParticipantDestination, false);
    m_heldHeader
        = QByteArray(reinterpret_cast<const char *>(header.data()), qsizetype(header.size()));
    return true;
}

void Sender::releaseHeld()
{
    m_heldBlock.release();
    m_heldNumber = 0;
}

} // namespace exchange
