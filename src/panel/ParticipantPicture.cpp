#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "exchange/ParticipantDecode.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"
#include "support/cDibSection.h"

namespace {

// Unmaps the view and closes the block's handle when the routine leaves, whichever way it does.
class BlockRelease
{
public:
    BlockRelease(std::int32_t handle, const std::uint8_t *view) : m_handle(handle), m_view(view) { }
    ~BlockRelease()
    {
        if (m_view)
            modImageMemMapFunctions::UnmapViewOfFile(m_view);
        if (m_handle != 0)
            modImageMemMapFunctions::CloseHandle(std::uint32_t(m_handle));
    }
    BlockRelease(const BlockRelease &) = delete;
    BlockRelease &operator=(const BlockRelease &) = delete;

private:
    std::int32_t m_handle;
    const std::uint8_t *m_view;
};

} // namespace

void cveDerEve::UpdateParticipantNow(std::int32_t MapHandle, const QString &PName,
                                     const QString &Location)
{
    if (MapHandle == 0)
        return;
    {
        const std::uint8_t *view = modImageMemMapFunctions::MapImageBlock(std::uint32_t(MapHandle));
        const BlockRelease release(MapHandle, view);
        if (!view)
            return;
        // The parent owns the block and could shrink it under us: a fault while copying drops this
        // picture only, and the handle is still released on the way out.
        std::optional<participant::ReceivedBlock> block;
        ExceptionFilter::Guarded([&] { block = participant::readParticipantBlock(view); });
        if (!block)
            return;

        // A single data byte carries no picture and no names, only the news that one arrived.
        if (block->data.size() != 1) {
            participant::DecodedPicture decoded
                = participant::decodeByFormat(block->header, block->data);
            switch (decoded.kind) {
            case participant::DecodedPicture::Kind::Bitmap:
                picParticipant->setPicture(QImage());
                decoded.bitmap->PaintPicture(picParticipant->hDC(), decoded.offset.x(),
                                             decoded.offset.y(), -1, -1, 0, 0,
                                             platform::gdi::SRCCOPY);
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
    }
    DebugTrace::Trace("WebCam UpdateParticipantNow Exit");
}
