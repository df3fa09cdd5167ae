// The capture timer's pipeline: grab, show, hand to the white board and, when a slot has come, to
// the sender; and the small timers around it.

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "exchange/ParticipantDecode.h"
#include "panel/cveDerEve.h"
#include "support/cDibSection.h"

using DebugTrace::Trace;

void cveDerEve::tmrMain_Timer(std::int32_t)
{
    Trace("tmrMain_Timer Entry: DeviceIndex:", DeviceIndex, " lwndc:", m_Capture.lwndc(),
          " HardwareBusyFlag:", HardwareBusyFlag, " Pause:", m_Pause);
    // These guards leave tmrMain running: a paused or busy panel keeps polling.
    if (DeviceIndex < 0 || DeviceIndex > 9 || m_Capture.lwndc() == 0 || HardwareBusyFlag || m_Pause)
        return;
    tmrMain->setEnabled(false);
    // A fault inside the tick costs that tick, never the camera: what the tick switched off or
    // changed for its length comes back as on a normal way out, and the frame's block goes.
    if (!ExceptionFilter::Guarded([this] { captureTick(); })) {
        m_Sender.abandonFrame();
        m_Capture.restoreFrameSize();
        tmrStart->setEnabled(true);
    }
}

void cveDerEve::captureTick()
{
    std::int32_t n = m_Capture.grab();
    // A camera that is starting or slow between frames has not failed: the tick ends as the
    // guards do, tmrMain polling on, and the preview keeps the last good frame. Nothing goes to
    // the parent again until a new frame comes.
    if (n == 0 && m_Capture.waitingForFrame()) {
        tmrMain->setEnabled(true);
        return;
    }
    if (n == 0) {
        if (LastAttempt < 5) {
            // The first empty grabs restart the camera, from the third on scaling the frames
            // down rather than asking the driver for sizes it apparently cannot deliver.
            ++LastAttempt;
            DebugTrace::writeAlways(DebugTrace::line(
                "LastAttempt:", LastAttempt, " UseScaling:", m_Capture.UseScaling(),
                " WindowPos:", WindowPos, " MustScale:", m_Capture.MustScale()));
            if (LastAttempt > 2 && WindowPos == 8) {
                m_Capture.setMustScale(true);
                m_Capture.setUseScaling(true);
            }
            CamOff();
            CamOn();
            return;
        }
        if (LastAttempt == 5)
            PaintPreviewLines({QStringLiteral("I/O problem with webcam."),
                               QStringLiteral("Try changing webcam size")});
        // From here on empty ticks only retry, without restarts or messages, until a menu
        // command resets LastAttempt.
        LastAttempt = 6;
        Trace("WebCam tmrMain - Exiting, FrameBytes = 0");
        tmrStart->setEnabled(true);
        return;
    }

    if (m_Capture.takeFrame(n) != CaptureSession::Frame::InPrevCap) {
        tmrStart->setEnabled(true);
        return;
    }
    cDibSection &PrevCap = *m_Capture.PrevCap();

    if (WindowPos == 8 && m_Capture.UseScaling()) {
        platform::gdi::SetStretchBltMode(picWebCam->hDC(), platform::gdi::HALFTONE);
        platform::gdi::StretchBlt(picWebCam->hDC(), 8, 8, 160, 120, PrevCap.HDC(), 0, 0,
                                  PrevCap.Width(), PrevCap.Height(), platform::gdi::SRCCOPY);
        picWebCam->keepDrawing();
    } else if (WindowPos == 8) {
        // Visible as the control itself says, whatever its window shows.
        if (!picWebCam->isHidden() && m_Maximized) {
            PrevCap.PaintPicture(picWebCam->hDC(),
                                 participant::centringOffset(PrevCap.Width(), 176),
                                 participant::centringOffset(PrevCap.Height(), 144), -1, -1, 0, 0,
                                 platform::gdi::SRCCOPY);
            picWebCam->keepDrawing();
        }
    } else {
        // The white board gets every frame, sent or not.
        const std::vector<std::uint8_t> &bytes = m_Capture.frameBytes();
        m_clientPicture = QByteArray(reinterpret_cast<const char *>(bytes.data()),
                                     qsizetype(std::min(bytes.size(), std::size_t(n))));
        Q_EMIT m_events.WebCamClientPicture(m_clientPicture, PrevCap.TotalBytes(), PrevCap.Width(),
                                            PrevCap.Height(), PrevCap.PixelDepth(), WindowPos);
    }

    if (m_TransmitStatus) {
        const exchange::Sender::Slot slot
            = m_Sender.slot(m_CaptureInterval, !m_MenuOpen && m_TransmitPost);
        lblStatus->setCaption(slot.sending ? QStringLiteral("[ Sending ]") : QString());
        // A block that could not be made leaves the slot open: the next tick tries again.
        if (slot.due && (!slot.transmit || transmitFrame()))
            m_Sender.slotTaken();
    } else {
        lblStatus->setCaption(QStringLiteral("[ Preview ]"));
    }
    tmrStart->setEnabled(true);
}

bool cveDerEve::transmitFrame()
{
    // With scaling, the picture sent is the top-left 176 x 144 of the preview: the scaled frame
    // at 8, 8 with the box's background around it.
    if (m_Capture.UseScaling())
        m_Capture.previewInPrevCap(picWebCam->hDC(), 176, 144);
    const bool sent = m_Sender.sendFrame(*m_Capture.PrevCap(), WindowPos);
    m_Capture.restoreFrameSize();
    return sent;
}

void cveDerEve::tmrStart_Timer(std::int32_t)
{
    tmrStart->setEnabled(false);
    tmrMain->setEnabled(true);
}

void cveDerEve::TransmitNow_Timer(std::int32_t)
{
    TransmitNow->setEnabled(false);
    NewParticipant();
}

void cveDerEve::tmrReset_Timer()
{
    tmrReset.setEnabled(false);
    if (m_TransmitStatus && m_Sender.holding())
        lblStatus->setCaption(QString());
}
