#include "exchange/ParticipantQueue.h"

namespace participant {

bool ParticipantQueue::add(std::int32_t imgNumber, const QString &PName, const QString &Location)
{
    clsQueue item;
    // Opening the block now keeps the picture alive after the parent closes its own handle.
    item.Block = modImageMemMapFunctions::ImageBlock::open(imgNumber);
    if (!item.Block || item.Block.size() > kMaxBytes)
        return false;
    item.PName = PName;
    item.Location = Location;
    item.imgNumber = imgNumber;

    std::size_t queuedBytes = item.Block.size();
    for (const clsQueue &queued : m_items)
        queuedBytes += queued.Block.size();
    while (!m_items.empty() && (m_items.size() + 1 > kMaxPictures || queuedBytes > kMaxBytes)) {
        queuedBytes -= m_items.front().Block.size();
        m_items.pop_front();
    }
    const bool wasEmpty = m_items.empty();
    m_items.push_back(std::move(item));
    return wasEmpty;
}

std::optional<clsQueue> ParticipantQueue::takeFirst()
{
    if (m_items.empty())
        return std::nullopt;
    std::optional<clsQueue> first(std::move(m_items.front()));
    m_items.pop_front();
    return first;
}

} // namespace participant
