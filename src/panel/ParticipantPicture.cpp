// The participant queue and the display of participant pictures.

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "exchange/ParticipantDecode.h"
#include "panel/cveDerEve.h"
#include "support/cDibSection.h"

namespace mm = modImageMemMapFunctions;

namespace {

// What the queue may hold, so that a parent that calls faster than the pictures are shown (one
// per queue tick, about 25 a second) cannot exhaust the server's descriptors or pin unbounded
// memory in blocks it has already let go of. Past either bound the OLDEST waiting pictures are
// dropped: the newest picture is always kept, so what the person sees last is the last picture
// the parent sent. A block that holds more than one picture may is refused outright, as
// reading it would refuse it anyway.
constexpr std::size_t kMaxQueuedPictures = 16;
constexpr std::size_t kMaxQueuedBytes
    = std::size_t(participant::kMaxOrigSize) + mm::kImageHeaderSize;

} // namespace

void cveDerEve::UpdateParticipant(std::int32_t imgNumber, const QString &PName,
                                  const QString &Location)
{
    clsQueue item;
    // Opening the block now keeps the picture alive after the parent closes its own handle.
    item.Block = mm::ImageBlock::open(imgNumber);
    if (!item.Block || item.Block.size() > kMaxQueuedBytes)
        return;
    item.PName = PName;
    item.Location = Location;
    item.imgNumber = imgNumber;

    std::size_t queuedBytes = item.Block.size();
    for (const clsQueue &queued : ParticipantQueue)
        queuedBytes += queued.Block.size();
    while (!ParticipantQueue.empty()
           && (ParticipantQueue.size() + 1 > kMaxQueuedPictures || queuedBytes > kMaxQueuedBytes)) {
        queuedBytes -= ParticipantQueue.front().Block.size();
        ParticipantQueue.pop_front();
    }

    const bool wasEmpty = ParticipantQueue.empty();
    ParticipantQueue.push_back(std::move(item));
    if (wasEmpty)
        tmrQueue->setEnabled(true);
}

void cveDerEve::tmrQueue_Timer(std::int32_t)
{
    tmrQueue->setEnabled(false);
    const auto n = ParticipantQueue.size();
    if (n == 0)
        return;
    clsQueue record = std::move(ParticipantQueue.front());
    ParticipantQueue.pop_front();
    // Enabled before the picture is shown rather than after: a tick never runs inside this one,
    // and a picture that breaks the display must not stop the pictures behind it.
    if (n - 1 >= 1)
        tmrQueue->setEnabled(true);
    UpdateParticipantNow(std::move(record.Block), record.PName, record.Location);
}

void cveDerEve::UpdateParticipantNow(mm::ImageBlock Block, const QString &PName,
                                     const QString &Location)
{
    if (!Block)
        return;
    const std::optional<participant::ReceivedBlock> received = m_Receiver.read(Block);
    if (!received) {
        m_Receiver.trim();
        return;
    }

    // A single data byte carries no picture and no names, only the news that one arrived.
    if (received->length != 1) {
        // The decoders work on bytes from another process: a fault among them drops this
        // picture only. What they write into is the receiver's, out here, and the block is
        // released by this frame; the receiver starts again with a fresh bitmap and decoder.
        participant::DecodedPicture decoded;
        if (!ExceptionFilter::Guarded([&] { m_Receiver.decode(*received, decoded); })) {
            m_Receiver.reset();
            return;
        }
        switch (decoded.kind) {
        case participant::DecodedPicture::Kind::Bitmap:
            picParticipant->setPicture(QImage());
            decoded.bitmap->PaintPicture(picParticipant->hDC(), decoded.offset.x(),
                                         decoded.offset.y(), -1, -1, 0, 0, platform::gdi::SRCCOPY);
            picParticipant->keepDrawing();
            break;
        case participant::DecodedPicture::Kind::PictureFile:
            picParticipant->setPicture(decoded.picture);
            break;
        case participant::DecodedPicture::Kind::Nothing:
            break;
        }

        // Only the lengths are compared: a new name of the same length keeps the tab.
        if (CurrentTab() == 1 && PName.size() != lblParticipant->Caption().size())
            lblParticipant_Click();
        lblParticipant->setCaption(participant::trimSpaces(PName));
        lblLocation->setCaption(participant::trimSpaces(Location));
        if (CurrentTab() == 0)
            lblLocation->setVisible(true);
    }

    if (!m_Maximized)
        lblStatus->setCaption(QStringLiteral("[ New Image ]"));
    m_Receiver.trim();
    Block.release();
    DebugTrace::Trace("WebCam UpdateParticipantNow Exit");
}
