#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "exchange/ImageBlock.h"

class cDibSection;

namespace exchange {

// When the capture tick may transmit, and what its status label says meanwhile. Pure: the tick
// count comes with each question. The count is a 32-bit millisecond count that wraps every 49.7
// days, so spans are taken modulo 2^32: a slot up to 49.7 days back counts as long past, whatever
// the wrap, and one further back at worst as a recent one, which delays the next slot by no more
// than one interval.
class TransmitPacing
{
public:
    // "[ Sending ]" shows always at interval 0, and otherwise for a second after each slot.
    bool showsSending(std::uint32_t now, std::int32_t interval) const;
    // The first slot comes at once; the next when more than interval ms have passed since the
    // last. A negative interval makes every tick a slot.
    bool slotDue(std::uint32_t now, std::int32_t interval) const;
    void slotTaken(std::uint32_t now) { LastSent = now; }

private:
    // Empty until the first slot, so that it comes at once however long the machine is up.
    std::optional<std::uint32_t> LastSent;
};

// Every picture the component sends leaves through here, camera frames and the held still
// picture alike: encoded as JPEG, numbered by the machine-wide counter, written into an image
// block behind its header and announced. The panel decides when, and paints.
class Sender
{
public:
    // Raises WebCamSnapShot: the parent reads the block while it handles the call. picHdr is
    // passed on by reference, as the parent may write to it.
    using Announce = std::function<void(QByteArray &picHdr, std::int32_t imgNumber)>;

    explicit Sender(Announce announce) : m_announce(std::move(announce)) { }

    // The sender's share of the process's shared header: pictures are numbered from Open to
    // Close. Other senders of the process keep theirs whatever this one does.
    void OpenSharedHeader() { m_header.Open(); }
    void CloseSharedHeader() { m_header.Close(); }

    // The transmission part of a capture tick while TransmitStatus is on, by the tick count as it
    // reads now.
    struct Slot
    {
        bool sending = false; // the status label reads "[ Sending ]", else nothing
        bool due = false; // a slot has come: slotTaken() once the tick has used it
        bool transmit = false; // due, and the parent allows posting now
    };
    Slot slot(std::int32_t interval, bool mayPost) const;
    void slotTaken();

    // Sends a camera frame for destination (a WindowPos code) with the tick's trace lines. The
    // block lives only while the announcement runs. False only when the block could not be made
    // or written, which leaves the slot open for the next tick; a frame that does not encode
    // sends nothing and uses its slot.
    bool sendFrame(const cDibSection &frame, std::int32_t destination);
    // For a tick that a fault abandoned, maybe in the middle of an announcement: the frame's block
    // goes now instead of after the event.
    void abandonFrame() { m_sending.release(); }

    // Encodes a still picture and holds it, for the participant area, to be announced now and
    // again later; the picture held before goes first. False, changing nothing, when the picture
    // does not encode.
    bool holdPicture(const cDibSection &picture);
    // A held picture whose block exists: one to announce.
    bool holding() const { return m_heldBlock && m_heldNumber != 0; }
    void announceHeld() { m_announce(m_heldHeader, m_heldNumber); }
    void releaseHeld();

    // The held picture as the trace and the tests know it: m_hMapOut, m_ImgNumberOut, m_PicHdr.
    const modImageMemMapFunctions::ImageBlock &heldBlock() const { return m_heldBlock; }
    std::int32_t heldNumber() const { return m_heldNumber; }
    const QByteArray &heldHeader() const { return m_heldHeader; }

private:
    // The one place where a picture gets its number and its block: a new block under the next
    // free number, its header, and the picture written. Returns the number taken last, also when
    // no block could be made (block is empty then).
    std::int32_t numberAndWrite(modImageMemMapFunctions::ImageBlock &block,
                                modImageMemMapFunctions::Header &header,
                                const std::vector<std::uint8_t> &jpeg, std::int32_t width,
                                std::int32_t height, std::int32_t destination, bool cameraFrame);

    Announce m_announce;
    TransmitPacing m_pacing;
    modImageMemMapFunctions::SharedHeaderUse m_header;
    // A frame on its way out. Kept here rather than on the stack of sendFrame(): a fault in the
    // parent's handler abandons the tick, and nothing of the frame may stay behind with it.
    modImageMemMapFunctions::ImageBlock m_sending;
    std::vector<std::uint8_t> m_jpeg;
    QByteArray m_picHdr;
    modImageMemMapFunctions::ImageBlock m_heldBlock;
    std::int32_t m_heldNumber = 0;
    QByteArray m_heldHeader;
};

} // namespace exchange
