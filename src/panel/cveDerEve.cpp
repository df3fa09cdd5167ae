#include "panel/cveDerEve.h"

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "capture/clsImages.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/PanelSkin.h"
#include "platform/capture/dialogs/DriverDialogs.h"
#include "support/StoredDevice.h"

using DebugTrace::Trace;
using ExceptionFilter::Guarded;

cveDerEve::cveDerEve(QWidget *parent) : QWidget(parent)
{
    // The drivers' own dialogs are widgets: the panel, which links them, puts them in place.
    static const bool dialogs = [] {
        platform::vfw::installDriverDialogs();
        return true;
    }();
    Q_UNUSED(dialogs);
    setObjectName(QStringLiteral("WebCam"));
    resize(202, 215);
    makeControls(*this);
    connectControls();
    buildMenus();
    UserControl_Initialize();
}

cveDerEve::~cveDerEve()
{
    UserControl_Terminate();
}

void cveDerEve::connectControls()
{
    picTabMain->MouseUp = [this](int b, int s, int x, int y) { picTabMain_MouseUp(b, s, x, y); };
    lblParticipant->Click = [this] { lblParticipant_Click(); };
    imgCamOnMain->MouseUp
        = [this](int b, int s, int x, int y) { imgCamOnMain_MouseUp(b, s, x, y); };
    imgCamOffMain->MouseUp
        = [this](int b, int s, int x, int y) { imgCamOffMain_MouseUp(b, s, x, y); };
    imgChk->Click = [this] { imgChk_Click(); };
    imgMinMax->Click = [this] { imgMinMax_Click(); };
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

void cveDerEve::UserControl_Initialize()
{
    Trace("cveDerEve Initializing");
    if (m_Initialized)
        return;
    PanelSkin::assignBuiltIn(*this);
    placeControls(*this);

    ParticipantQueue.clear();

    // The queue timer's properties are set in another order than the others'; with the timer
    // disabled the order changes nothing.
    tmrQueue = std::make_unique<CcrpTimer>();
    tmrQueue->setEventType(CcrpTimer::TimePeriodic);
    tmrQueue->setEnabled(false);
    tmrQueue->setInterval(40);
    tmrQueue->onTimer([this](std::int32_t ms) { tmrQueue_Timer(ms); });
    tmrMain = std::make_unique<CcrpTimer>();
    tmrStart = std::make_unique<CcrpTimer>();
    TransmitNow = std::make_unique<CcrpTimer>();
    const std::pair<CcrpTimer *, std::int32_t> others[]
        = {{tmrMain.get(), 120}, {tmrStart.get(), 40}, {TransmitNow.get(), 40}};
    for (const auto &[timer, interval] : others) {
        timer->setEventType(CcrpTimer::TimePeriodic);
        timer->setInterval(interval);
        timer->setEnabled(false);
    }
    tmrMain->onTimer([this](std::int32_t ms) { tmrMain_Timer(ms); });
    tmrStart->onTimer([this](std::int32_t ms) { tmrStart_Timer(ms); });
    TransmitNow->onTimer([this](std::int32_t ms) { TransmitNow_Timer(ms); });
    tmrReset.setInterval(5000);
    tmrReset.setEnabled(false);
    tmrReset.onTimer([this] { tmrReset_Timer(); });

    PanelSkin::assignFromResourceLibrary(*this);

    m_Sender.OpenSharedHeader();
    CreateCapturedFrame();

    picMain->setPicture(picMainDown->Picture());
    picParticipant->setPicture(picStopCam->Picture());
    picTabMain->setPicture(picTabParticipant->Picture());

    m_Maximized = false;
    setCaptureInterval(0);
    m_TransmitStatus = false;

    DeviceIndex = StoredDevice::index();

    // Output to the participant area; the camera is not running yet, so nothing restarts.
    chooseDestination(8);
    m_Initialized = true;
}

void cveDerEve::releaseHeldBlock()
{
    m_Sender.releaseHeld();
}

void cveDerEve::disableTimers()
{
    for (CcrpTimer *timer : {TransmitNow.get(), tmrStart.get(), tmrMain.get(), tmrQueue.get()})
        if (timer)
            timer->setEnabled(false);
    tmrReset.setEnabled(false);
}

void cveDerEve::UserControl_Hide()
{
    Trace("WebCam UserControl_Hide Entry");
    disableTimers();
    // Each step on its own: a driver that faults while its window goes must not keep the blocks
    // and the shared header from being released.
    Guarded([this] { m_Capture.stop(); });
    // Disabled again: a tick that the teardown let through must not find a window that is gone.
    disableTimers();
    // The queued blocks are released with the queue: nobody else would close them.
    Guarded([this] { ParticipantQueue.clear(); });
    Guarded([this] { releaseHeldBlock(); });
    // This panel's share only: the other objects of the process keep numbering their pictures.
    Guarded([this] { m_Sender.CloseSharedHeader(); });
    m_Initialized = false;
    Trace("WebCam UserControl_Hide Exit");
}

void cveDerEve::UserControl_Terminate()
{
    UserControl_Hide();
}

void cveDerEve::WebCamDefaultPic(const QString &NewValue)
{
    // A read that fails never completes, so picStopCam keeps its picture; only the newest
    // request completes, so an older, slower read cannot win.
    m_defaultPicReader.read(NewValue);
}

void cveDerEve::UserControl_AsyncReadComplete(const QString &PropertyName, const QImage &Value)
{
    if (PropertyName == QLatin1String("DefaultWebCamPic"))
        picStopCam->setPicture(Value);
}

// ---------------------------------------------------------------------------------------------
// Members called by the host form

void cveDerEve::setCurrentTab(std::int32_t Value)
{
    m_CurrentTab = Value;
    if (Value == 0) {
        picSettingsMain->hide();
        picWebCam->hide();
        imgCamOffMain->hide();
        imgCamOnMain->hide();
        picTabMain->setPicture(picTabParticipant->Picture());
        lblParticipant->setForeColor(QColor(0, 0, 0));
        picParticipant->show();
        if (!lblLocation->Caption().isEmpty())
            lblLocation->show();
    } else if (Value == 1) {
        picParticipant->hide();
        lblLocation->hide();
        lblParticipant->setForeColor(QColor(0x80, 0x80, 0x80));
        picTabMain->setPicture(PicTabWebcam->Picture());
        picSettingsMain->show();
        picWebCam->show();
        // Only a capture device (an entry without a tag) gets the camera buttons.
        const vb::MenuEntry *entry = mnuDevices().at(DeviceIndex);
        if (DeviceIndex != -1 && entry && entry->Tag.isEmpty()) {
            imgCamOffMain->show();
            imgCamOnMain->show();
        }
    }
}

void cveDerEve::RecieveWebCamImages(bool YorN)
{
    showReceiving(YorN);
    imgChk->Tag = YorN ? QString() : QStringLiteral("x");
}

std::int32_t cveDerEve::MinHeight() const
{
    return picMainDown->height();
}

std::int32_t cveDerEve::MaxHeight() const
{
    return picMainUp->height();
}

void cveDerEve::setPause(bool Value)
{
    m_Pause = Value;
    if (Value) {
        if (m_Capture.CameraOn()) {
            CamOff();
            m_ResumeCam = true;
            picWebCam->setPicture(QImage());
            picWebCam->Cls();
            Q_EMIT m_events.EraseWebCam();
        } else {
            m_ResumeCam = false;
        }
    } else if (!m_Capture.CameraOn() && m_ResumeCam) {
        CamOn();
    }
}

void cveDerEve::Maximize()
{
    if (!m_Maximized)
        imgMinMax_Click();
}

void cveDerEve::Minimize()
{
    // Unlike a collapse by the arrow, which shows the up arrow, the parent's minimise leaves the
    // down arrow; the arrow's tool tip still offers the restore.
    picMain->setPicture(picMainDown->Picture());
    imgMinMax->setPicture(imgDArrow->Picture());
    imgMinMax->setToolTipText(QStringLiteral("Restore"));
    m_Maximized = false;
    Q_EMIT m_events.MinMaxResize(true, MinHeight());
}

void cveDerEve::setTransmitPost(bool YorN)
{
    m_TransmitPost = YorN;
    // The label says TransmitStatus although the value is TransmitPost; parents' logs rely on it.
    Trace("cveDerEve TransmitStatus = ", YorN);
}

void cveDerEve::setCaptureInterval(std::int32_t Interval)
{
    m_CaptureInterval = Interval;
    m_menus[u"mnuRate2sec"].Checked = Interval == 2000;
    m_menus[u"mnuRate5sec"].Checked = Interval == 5000;
    m_menus[u"mnuRateFast"].Checked = Interval != 2000 && Interval != 5000;
}

void cveDerEve::setTransmitStatus(bool Status)
{
    m_TransmitStatus = Status;
    lblStatus->setCaption(QString());
    if (DeviceIndex != -1 && Status)
        TransmitNow->setEnabled(true);
}

void cveDerEve::BeforeUnload()
{
    Trace("WebCam BeforeUnload Entry");
    for (CcrpTimer *timer : {TransmitNow.get(), tmrMain.get(), tmrStart.get(), tmrQueue.get()})
        if (timer)
            timer->setEnabled(false);
    // Each step on its own: a camera that faults while it stops must not keep the held block and
    // the shared header from being released.
    Guarded([this] {
        if (m_Capture.CameraOn())
            CamOff();
    });
    Guarded([this] { releaseHeldBlock(); });
    // This panel's share only: the other objects of the process keep numbering their pictures.
    Guarded([this] { m_Sender.CloseSharedHeader(); });
    Trace("WebCam BeforeUnload Exit");
}

void cveDerEve::InitVars()
{
    Trace("cveDerEve InitVars");
    InitHardwareDrivers();
}

void cveDerEve::EraseWebCam()
{
    lblParticipant->setCaption(QStringLiteral("Participant cam"));
    lblLocation->setCaption(QString());
    lblStatus->setCaption(QString());
    lblLocation->hide();
    picParticipant->setPicture(picStopCam->Picture());
}

void cveDerEve::NewParticipant()
{
    if (DeviceIndex != -1 && m_TransmitStatus && m_Sender.holding()) {
        m_Sender.announceHeld();
        lblStatus->setCaption(QStringLiteral("[ Picture Sent ]"));
        tmrReset.setEnabled(true);
    }
}
