#include "panel/cveDerEve.h"

#include <cmath>
#include <type_traits>

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "capture/clsImages.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/PanelSkin.h"
#include "platform/capture/dialogs/DriverDialogs.h"
#include "support/CRegSettings.h"
#include "support/ScreenDpi.h"
#include "support/SettingKeys.h"

using DebugTrace::Trace;
using ExceptionFilter::Guarded;
using namespace Qt::Literals::StringLiterals;

namespace {

// Rounds to the nearest whole number, halves to the even neighbour.
std::int32_t roundHalfEven(double value)
{
    return static_cast<std::int32_t>(std::nearbyint(value));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Controls

// One row of the layout: the control's name, its container (none: the panel itself), its place
// in pixels, and how to make it. Start-up creates the controls and then places them by walking
// the same rows.
struct cveDerEve::ControlRow
{
    const char *name;
    vb::PictureBox *cveDerEve::*container;
    int left, top, width, height;
    vb::ControlBase *(*make)(cveDerEve &panel, QWidget *parent, const QString &name);
};

namespace {
// The widget type a control member holds.
template<class Slot> using ControlOf = std::remove_pointer_t<std::remove_cvref_t<Slot>>;
} // namespace

const std::array<cveDerEve::ControlRow, 31> &cveDerEve::controlTable()
{
#define VEDEREVE_CONTROL(member)                                                                   \
    [](cveDerEve &p, QWidget *parent, const QString &name) -> vb::ControlBase * {                  \
        auto *control = new ControlOf<decltype(p.member)>(parent, name);                           \
        p.member = control;                                                                        \
        return control;                                                                            \
    }
    using P = cveDerEve;
    // The containers come before what they hold; the stores lie outside the visible 202 x 215.
    static const std::array<ControlRow, 31> rows {{
        {"picMainDown", nullptr, 435, 241, 202, 17, VEDEREVE_CONTROL(picMainDown)},
        {"picMainUp", nullptr, 434, 17, 202, 215, VEDEREVE_CONTROL(picMainUp)},
        {"picTmp", nullptr, 325, 440, 50, 29, VEDEREVE_CONTROL(picTmp)},
        {"DefaultPic", nullptr, 260, 440, 50, 29, VEDEREVE_CONTROL(DefaultPic)},
        {"picMain", nullptr, 0, 0, 202, 215, VEDEREVE_CONTROL(picMain)},
        {"picTabMain", &P::picMain, 1, 19, 200, 191, VEDEREVE_CONTROL(picTabMain)},
        {"picSettingsMain", &P::picTabMain, 117, 169, 66, 18, VEDEREVE_CONTROL(picSettingsMain)},
        {"picParticipant", &P::picTabMain, 13, 22, 174, 144, VEDEREVE_CONTROL(picParticipant)},
        {"imgChk", &P::picParticipant, 156, 3, 13, 13, VEDEREVE_CONTROL(imgChk)},
        {"lblDisable", &P::picParticipant, 15, 2, 138, 14, VEDEREVE_CONTROL(lblDisable)},
        {"picWebCam", &P::picTabMain, 13, 22, 174, 144, VEDEREVE_CONTROL(picWebCam)},
        {"lblParticipant", &P::picTabMain, 86, 3, 94, 13, VEDEREVE_CONTROL(lblParticipant)},
        {"lblLocation", &P::picTabMain, 13, 167, 174, 22, VEDEREVE_CONTROL(lblLocation)},
        {"imgCamOnMain", &P::picTabMain, 13, 169, 20, 18, VEDEREVE_CONTROL(imgCamOnMain)},
        {"imgCamOffMain", &P::picTabMain, 37, 169, 19, 18, VEDEREVE_CONTROL(imgCamOffMain)},
        {"imgBrand", &P::picMain, 4, 3, 14, 12, VEDEREVE_CONTROL(imgBrand)},
        {"lblStatus", &P::picMain, 104, 4, 78, 11, VEDEREVE_CONTROL(lblStatus)},
        {"imgMinMax", &P::picMain, 185, 3, 12, 12, VEDEREVE_CONTROL(imgMinMax)},
        {"imgStretch", nullptr, 593, 451, 29, 15, VEDEREVE_CONTROL(imgStretch)},
        {"imgOriginal", nullptr, 592, 430, 29, 15, VEDEREVE_CONTROL(imgOriginal)},
        {"img(1)", nullptr, 453, 374, 13, 13, VEDEREVE_CONTROL(img[1])},
        {"img(0)", nullptr, 453, 343, 13, 13, VEDEREVE_CONTROL(img[0])},
        {"PicTabWebcam", nullptr, 216, 15, 200, 191, VEDEREVE_CONTROL(PicTabWebcam)},
        {"picTabParticipant", nullptr, 218, 229, 200, 191, VEDEREVE_CONTROL(picTabParticipant)},
        {"picStopCam", nullptr, 21, 237, 176, 144, VEDEREVE_CONTROL(picStopCam)},
        {"imgCamStop(1)", nullptr, 98, 443, 19, 18, VEDEREVE_CONTROL(imgCamStop[1])},
        {"ImgCamOn(1)", nullptr, 72, 443, 20, 18, VEDEREVE_CONTROL(ImgCamOn[1])},
        {"imgCamStop(0)", nullptr, 48, 443, 19, 18, VEDEREVE_CONTROL(imgCamStop[0])},
        {"ImgCamOn(0)", nullptr, 22, 443, 20, 18, VEDEREVE_CONTROL(ImgCamOn[0])},
        {"imgDArrow", nullptr, 50, 409, 12, 12, VEDEREVE_CONTROL(imgDArrow)},
        {"imgUpArrow", nullptr, 28, 410, 12, 12, VEDEREVE_CONTROL(imgUpArrow)},
    }};
#undef VEDEREVE_CONTROL
    return rows;
}

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
    createControls();
    buildMenus();
    UserControl_Initialize();
}

cveDerEve::~cveDerEve()
{
    UserControl_Terminate();
}

void cveDerEve::createControls()
{
    for (const ControlRow &row : controlTable()) {
        QWidget *container = row.container ? static_cast<QWidget *>(this->*row.container) : this;
        vb::ControlBase *control = row.make(*this, container, QString::fromLatin1(row.name));
        // Stores only hold pictures; nobody ever sees them. Whatever lies outside the visible
        // area of the panel is one.
        auto *widget = dynamic_cast<QWidget *>(control);
        if (!row.container && (row.left >= 202 || row.top >= 215))
            widget->hide();
    }

    picMain->AutoSize = true;
    picParticipant->setBackColor(Qt::white);
    picWebCam->setBackColor(Qt::white);
    lblDisable->setCaption(QStringLiteral("Receiving has been disabled"));
    lblDisable->hide();
    lblParticipant->setCaption(QStringLiteral("Participant cam"));
    lblLocation->hide();
    lblStatus->setForeColor(QColor(0x60, 0x60, 0x60));
    imgChk->setToolTipText(QStringLiteral("Disable receiving"));
    imgCamOnMain->setToolTipText(QStringLiteral("Play"));
    imgCamOffMain->setToolTipText(QStringLiteral("Pause"));
    for (QWidget *webcamTab :
         std::initializer_list<QWidget *> {picSettingsMain, picWebCam, imgCamOnMain, imgCamOffMain})
        webcamTab->hide();
    for (QWidget *clickable :
         std::initializer_list<QWidget *> {picSettingsMain, imgCamOnMain, imgCamOffMain, imgMinMax})
        clickable->setCursor(Qt::PointingHandCursor);

    picTabMain->MouseUp = [this](int b, int s, int x, int y) { picTabMain_MouseUp(b, s, x, y); };
    lblParticipant->Click = [this] { lblParticipant_Click(); };
    imgCamOnMain->MouseUp
        = [this](int b, int s, int x, int y) { imgCamOnMain_MouseUp(b, s, x, y); };
    imgCamOffMain->MouseUp
        = [this](int b, int s, int x, int y) { imgCamOffMain_MouseUp(b, s, x, y); };
    // The buttons look pressed while held: Play and Pause for the left button, the settings
    // button for any.
    imgCamOnMain->PressedLook = imgCamOffMain->PressedLook = vb::vbLeftButton;
    picSettingsMain->PressedLook = vb::vbLeftButton | vb::vbRightButton | vb::vbMiddleButton;
    imgChk->Click = [this] { imgChk_Click(); };
    imgMinMax->Click = [this] { imgMinMax_Click(); };
}

void cveDerEve::applyLayout()
{
    for (const ControlRow &row : controlTable()) {
        auto *control
            = dynamic_cast<vb::ControlBase *>(findChild<QWidget *>(QString::fromLatin1(row.name)));
        control->place(row.left, row.top, row.width, row.height);
    }
    setLabelFonts();
}

void cveDerEve::setLabelFonts()
{
    const QFont large = ArialAtScreenDpi(8.25);
    const QFont small = ArialAtScreenDpi(6.75);
    lblDisable->setFont(large);
    lblParticipant->setFont(large);
    lblLocation->setFont(small);
    lblStatus->setFont(small);
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

void cveDerEve::UserControl_Initialize()
{
    Trace("cveDerEve Initializing");
    if (m_Initialized)
        return;
    PanelSkin::assignBuiltIn(*this);
    applyLayout();

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

    const QString device
        = CRegSettings().GetSetting(SettingKeys::Defaults, SettingKeys::WebCamDevice, u"-1"_s);
    // A number rounds half to even; text that is not a number gives 0.
    bool isNumber = false;
    const double value = device.trimmed().toDouble(&isNumber);
    DeviceIndex = isNumber && std::isfinite(value) && std::fabs(value) < 2147483647.0
        ? roundHalfEven(value)
        : 0;

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
    if (YorN) {
        lblDisable->hide();
        imgChk->setToolTipText(QStringLiteral("Disable receiving"));
        imgChk->setPicture(img[0]->Picture());
        imgChk->Tag.clear();
    } else {
        lblDisable->show();
        imgChk->setToolTipText(QStringLiteral("Enable receiving"));
        imgChk->setPicture(img[1]->Picture());
        imgChk->Tag = QStringLiteral("x");
    }
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
