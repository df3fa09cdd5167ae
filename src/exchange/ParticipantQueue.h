#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "exchange/ImageBlock.h"
#include "exchange/ParticipantDecode.h"

// One queued participant picture: the block stays open from UpdateParticipant until it is shown,
// so that the picture survives the parent closing its own handle.
class clsQueue
{
public:
    std::int32_t imgNumber = 0;
    modImageMemMapFunctions::ImageBlock Block; // Block.MapHandle() is the queued handle
    QString PName;
    QString Location;
};

namespace participant {

// The participant pictures waiting for the queue timer, first in, first out.
//
// Bounded, so that a parent that calls faster than the pictures are shown (one per queue tick,
// about 25 a second) cannot exhaust the server's descriptors or pin unbounded memory in blocks it
// has already let go of. Past either bound the OLDEST waiting pictures are dropped: the newest
// picture is always kept, so what the person sees last is the last picture the parent sent. A
// block larger than one picture may be is refused outright, as reading it would refuse it anyway.
class ParticipantQueue
{
public:
    static constexpr std::size_t kMaxPictures = 16;
    static constexpr std::size_t kMaxBytes
        = std::size_t(kMaxOrigSize) + modImageMemMapFunctions::kImageHeaderSize;

    // Opens block imgNumber and queues it with the names. Nothing is queued when there is no such
    // block or it alone is past kMaxBytes. True when the picture went into an empty queue: the
    // queue timer starts then.
    bool add(std::int32_t imgNumber, const QString &PName, const QString &Location);
    // The oldest picture, out of the queue; nothing when the queue is empty.
    std::optional<clsQueue> takeFirst();

    bool empty() const { return m_items.empty(); }
    std::size_t size() const { return m_items.size(); }
    const clsQueue &at(std::size_t i) const { return m_items.at(i); }
    // Closes every queued block: nobody else would.
    void clear() { m_items.clear(); }

private:
    std::deque<clsQueue> m_items;
};

} // namespace participant
