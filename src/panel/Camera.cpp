// Camera start and stop, device discovery and selection.

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "capture/CaptureCommands.h"
#include "capture/DeviceChoice.h"
#include "panel/StillPicture.h"
#include "panel/cveDerEve.h"
#include "support/CRegSettings.h"
#include "support/PathHelpers.h"
#include "support/ScreenDpi.h"
#include "support/SettingKeys.h"
#include "support/StoredDevice.h"
#include "support/StoredPictures.h"
#include "support/cDibSection.h"

using DebugTrace::Trace;
using ExceptionFilter::Guarded;

void cveDerEve::PaintPreviewLines(const QStringList &lines)
{
    picWebCam->setPicture(QImage());
    picWebCam->Cls();
    picWebCam->Font = ArialAtScreenDpi(8.25);
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

void cveDerEve::showCameraRunning(bool running)
{
    // Play is pressed down (disabled) while the camera runs, Pause while it does not.
    imgCamOnMain->setEnabled(!running);
    imgCamOnMain->setPicture(ImgCamOn[running ? 1 : 0]->Picture());
    imgCamOffMain->setEnabled(running);
    imgCamOffMain->setPicture(imgCamStop[running ? 1 : 0]->Picture());
}

void cveDerEve::CamOn()
{
    // A driver that faults while the camera starts leaves it off, as one that cannot connect
    // does: the pointer comes back, Play is offered again and no timer ticks on a half-made
    // capture window.
    if (!Guarded([this] { startCamera(); }))
        CamOff();
}

void cveDerEve::startCamera()
{
    if (m_Capture.CameraOn())
        CamOff();
    m_MenuOpen = false;
    m_busyCursor.set(true);
    InitHardwareDrivers();
    if (DeviceCount == 0) {
        PaintPreviewLines({QStringLiteral("No webcam hardware available."),
                           QStringLiteral("Please select a picture."),
                           QStringLiteral("Click on [Settings] for options.")});
        CamOff();
        return;
    }
    const vb::MenuEntry *entry = mnuDevices().at(DeviceIndex);
    if (DeviceIndex < 0 || (entry && !entry->Tag.isEmpty())) {
        m_busyCursor.set(false);
        return;
    }
    releaseHeldBlock();

    // The capture window is a hidden child of the preview; its parent only owns the driver's
    // dialogs, so the panel's top-level window stands for it.
    const bool connected
        = m_Capture.connect(DeviceIndex, std::int32_t(picWebCam->window()->winId()));
    m_busyCursor.set(true);
    if (!connected) {
        const std::string name = CaptureSession::driverDescription(DeviceIndex, 128);
        PaintPreviewLines(
            {QStringLiteral("Cannot access device named"),
             QStringLiteral(" \"") + QString::fromLocal8Bit(name.c_str()) + QStringLiteral("\""),
             QString(), QStringLiteral("Please connect device and retry.")});
        CamOff();
        return;
    }
    showCameraRunning(true);

    const CaptureSession::Started started = m_Capture.negotiate(WindowPos);
    // The frame size follows the device's name in the menu; the menu is rebuilt by every start,
    // so the suffix never repeats.
    if (vb::MenuEntry *device = mnuDevices().at(DeviceIndex))
        device->Caption += QStringLiteral(" (%1x%2)")
                               .arg(started.format.bmiHeader.biWidth)
                               .arg(started.format.bmiHeader.biHeight);
    if (started.caps.fHasDlgVideoSource == 0)
        m_menus[u"mnuSource"].Enabled = false;
    if (started.caps.fHasDlgVideoFormat == 0)
        m_menus[u"mnuPixelDepth"].Enabled = false;
    picWebCam->setPicture(QImage());
    picWebCam->Cls();
    picWebCam->Print(QString());
    tmrMain->setInterval(120);
    tmrMain->setEnabled(true);
    m_busyCursor.set(false);
}

void cveDerEve::CamOff()
{
    imgCamOffMain->setBorderStyle(0);
    m_busyCursor.set(true);
    tmrMain->setEnabled(false);
    tmrStart->setEnabled(false);
    // A driver that faults while it stops must not keep the buttons and the pointer as they were.
    Guarded([this] { m_Capture.stop(); });
    m_MenuOpen = false;
    showCameraRunning(false);
    if (m_Maximized)
        lblStatus->setCaption(QString());
    m_busyCursor.set(false);
}

void cveDerEve::InitHardwareDrivers()
{
    Trace("InitHardwareDrivers Entry");
    vb::MenuArray &devices = mnuDevices();
    while (devices.Count() > 1)
        devices.UnloadLast();
    m_menus[u"mnuClearPic"].Visible = false;
    DeviceCount = 0;
    Trace("InitHardwareDrivers Entry 1");
    // A standard camera is chosen while nothing was saved; a saved camera is found again by its
    // identity when its index moved.
    const std::vector<capture::DriverListing> drivers = capture::listDrivers();
    const capture::DeviceChoice choice
        = capture::chooseDevice(drivers, DeviceIndex, StoredDevice::identity());
    if (choice.save)
        StoredDevice::save(choice.index, drivers[std::size_t(choice.index)].identity);
    DeviceIndex = choice.index;
    for (const capture::DriverListing &driver : drivers) {
        vb::MenuEntry *entry = devices.Load(DeviceCount);
        entry->Tag.clear();
        entry->Checked = DeviceIndex == DeviceCount;
        entry->Caption = QString::fromLocal8Bit(driver.caption.c_str());
        entry->Enabled = true;
        ++DeviceCount;
    }
    LastDriverIndex = DeviceCount - 1;
    Trace("InitHardwareDrivers Entry 2");
    for (int k = 1; k <= SettingKeys::WebCamPicSlots; ++k) {
        const QString path = StoredPictures::at(k);
        // A picture that is gone, empty or unreadable gets no entry; those after it move up.
        if (!PictureFileUsable(path))
            continue;
        vb::MenuEntry *entry = devices.Load(DeviceCount);
        entry->Checked = false;
        entry->Caption = FileNameOnly(path);
        entry->Tag = path;
        entry->Enabled = true;
        if (DeviceIndex == DeviceCount) {
            entry->Checked = true;
            Trace("InitHardwareDrivers Loading Picture ", path);
            SendPicture(path, false);
        }
        ++DeviceCount;
    }
    Trace("InitHardwareDrivers Exit");
}

void cveDerEve::SendPicture(const QString &path, bool announce)
{
    cDibSection bitmap;
    const bool made = makeStillPicture(path, {imgOriginal, imgStretch, DefaultPic}, bitmap);
    if (!announce)
        Trace("InitHardwareDrivers Picture ", path, " loaded");
    if (!made)
        return;
    picWebCam->setPicture(DefaultPic->Picture());

    // The held still picture: it stays for the parent to be told about again.
    if (!m_Sender.holdPicture(bitmap))
        return;
    m_menus[u"mnuClearPic"].Visible = true;
    if (announce && m_TransmitStatus) {
        m_Sender.announceHeld();
        lblStatus->setCaption(QStringLiteral("[ Picture Sent ]"));
    }
}

void cveDerEve::mnuDevices_Click(int Index)
{
    const bool wasOn = m_Capture.CameraOn();
    if (wasOn)
        CamOff();
    for (int i = 0; i < DeviceCount; ++i) {
        if (vb::MenuEntry *entry = mnuDevices().at(i))
            entry->Checked = false;
    }
    vb::MenuEntry *chosen = mnuDevices().at(Index);
    if (chosen)
        chosen->Checked = true;
    // Another choice lets a camera that is gone leave the list; the one chosen is saved with its
    // identity, which finds it again should its index move.
    std::string identity;
    if (chosen && chosen->Tag.isEmpty()) {
        const std::vector<capture::DriverListing> drivers = capture::listDrivers();
        if (Index >= 0 && std::size_t(Index) < drivers.size())
            identity = drivers[std::size_t(Index)].identity;
    }
    if (Index != DeviceIndex)
        m_Capture.releaseDevice();
    DeviceIndex = Index;
    StoredDevice::save(Index, identity);
    m_MenuOpen = false;
    if (!chosen)
        return;
    if (chosen->Tag.isEmpty()) {
        imgCamOnMain->show();
        imgCamOffMain->show();
        LastAttempt = 0;
        if (wasOn)
            CamOn();
        return;
    }
    imgCamOnMain->hide();
    imgCamOffMain->hide();
    if (PictureFileUsable(chosen->Tag))
        SendPicture(chosen->Tag, true);
}
