// The participant queue's timer and the display of participant pictures.

#include "panel/cveDerEve.h"
#include "support/cDibSection.h"

void cveDerEve::UpdateParticipant(std::int32_t imgNumber, const QString &PName,
                                  const QString &Location)
{
    if (ParticipantQueue.add(imgNumber, PName, Location))
        tmrQueue->setEnabled(true);
}

void cveDerEve::tmrQueue_Timer(std::int32_t)
{
    tmrQueue->setEnabled(false);
    std::optional<clsQueue> record = ParticipantQueue.takeFirst();
    if (!record)
        return;
    // Enabled before the picture is shown rather than after: a tick never runs inside this one,
    // and a picture that breaks the display must not stop the pictures behind it.
    if (!ParticipantQueue.empty())
        tmrQueue->setEnabled(true);
    UpdateParticipantNow(std::move(record->Block), record->PName, record->Location);
}

void cveDerEve::UpdateParticipantNow(modImageMemMapFunctions::ImageBlock Block,
                                     const QString &PName, const QString &Location)
{
    m_Receiver.receive(std::move(Block), [&](const participant::DecodedPicture *decoded) {
        if (decoded) {
            switch (decoded->kind) {
            case participant::DecodedPicture::Kind::Bitmap:
                picParticipant->setPicture(QImage());
                decoded->bitmap->PaintPicture(picParticipant->hDC(), decoded->offset.x(),
                                              decoded->offset.y(), -1, -1, 0, 0,
                                              platform::gdi::SRCCOPY);
                picParticipant->keepDrawing();
                break;
            case participant::DecodedPicture::Kind::PictureFile:
                picParticipant->setPicture(decoded->picture);
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
    });
}
