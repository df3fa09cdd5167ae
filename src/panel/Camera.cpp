// Camera start and stop, device discovery and the capture timer.

#include <QGuiApplication>

#include "base/DebugTrace.h"
#include "panel/cveDerEve.h"

using DebugTrace::Trace;

void cveDerEve::PaintPreviewLines(const QStringList &lines)
{
    picWebCam->setPicture(QImage());
    picWebCam->Cls();
    QFont font(QStringLiteral("Arial"));
    font.setBold(false);
    font.setPointSizeF(8.25 * 96.0 / GetScreenDpi());
    picWebCam->Font = font;
    picWebCam->ForeColor = QColor(0, 0, 0);
    bool first = true;
    for (const QString &text : lines) {
        picWebCam->CurrentX = 5;
        if (first)
            picWebCam->CurrentY = 5;
        first = false;
        picWebCam->Print(text);
    }
}

void cveDerEve::CamOn()
{
    if (m_Capture.CameraOn())
        CamOff();
    m_MenuOpen = false;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    InitHardwareDrivers();
    if (DeviceCount == 0) {
        PaintPreviewLines({QStringLiteral("No webcam hardware available."),
                           QStringLiteral("Please select a picture."),
                           QStringLiteral("Click on [Settings] for options.")});
        CamOff();
        QGuiApplication::restoreOverrideCursor();
        return;
    }
    const vb::MenuEntry *entry = mnuDevices->at(DeviceIndex);
    if (DeviceIndex < 0 || (entry && !entry->Tag.isEmpty())) {
        QGuiApplication::restoreOverrideCursor();
        return;
    }
    releaseHeldBlock();
    m_ImgNumberOut = 0;
    // \todo Connect the driver, negotiate the format and start tmrMain.
    QGuiApplication::restoreOverrideCursor();
}

void cveDerEve::CamOff()
{
    imgCamOffMain->setBorderStyle(0);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    tmrMain->setEnabled(false);
    tmrStart->setEnabled(false);
    m_Capture.stop();
    m_MenuOpen = false;
    imgCamOnMain->setEnabled(true);
    imgCamOnMain->setPicture(ImgCamOn[0]->Picture());
    imgCamOffMain->setEnabled(false);
    imgCamOffMain->setPicture(imgCamStop[0]->Picture());
    if (m_Maximized)
        lblStatus->setCaption(QString());
    QGuiApplication::restoreOverrideCursor();
}

void cveDerEve::InitHardwareDrivers()
{
    Trace("InitHardwareDrivers Entry");
    while (mnuDevices->Count() > 1)
        mnuDevices->UnloadLast();
    mnuClearPic.Visible = false;
    DeviceCount = 0;
    Trace("InitHardwareDrivers Entry 1");
    // \todo List the capture drivers and the stored pictures.
    LastDriverIndex = DeviceCount - 1;
    Trace("InitHardwareDrivers Entry 2");
    Trace("InitHardwareDrivers Exit");
}

void cveDerEve::tmrMain_Timer(std::int32_t)
{
    Trace("tmrMain_Timer Entry: DeviceIndex:", DeviceIndex, " lwndc:", m_Capture.lwndc(),
          " HardwareBusyFlag:", HardwareBusyFlag, " Pause:", m_Pause);
    // These guards leave tmrMain running: a paused or busy panel keeps polling.
    if (DeviceIndex < 0 || DeviceIndex > 9 || m_Capture.lwndc() == 0 || HardwareBusyFlag || m_Pause)
        return;
    tmrMain->setEnabled(false);
    // \todo Grab, show and transmit the frame once the capture engine exists.
    tmrStart->setEnabled(true);
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
    if (m_TransmitStatus && m_BlockOut.MapHandle() != 0 && m_ImgNumberOut != 0)
        lblStatus->setCaption(QString());
}
