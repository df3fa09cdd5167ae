#include "panel/cveDerEve.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

#include "base/DebugTrace.h"
#include "capture/clsImages.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/picture/PictureLoader.h"
#include "platform/resources/ResourceLibrary.h"
#include "skin/SkinPictures.h"
#include "support/CRegSettings.h"
#include "support/cDibSection.h"

using DebugTrace::Trace;

namespace {

std::function<std::int32_t()> &screenDpiSource()
{
    static std::function<std::int32_t()> source;
    return source;
}

// Rounds to the nearest whole number, halves to the even neighbour.
std::int32_t roundHalfEven(double value)
{
    return static_cast<std::int32_t>(std::nearbyint(value));
}

} // namespace

cveDerEve::cveDerEve(QWidget *parent) : QWidget(parent)
{
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

// ---------------------------------------------------------------------------------------------
// Controls and menus

void cveDerEve::createControls()
{
    // Containers first; each control is created inside the container the layout names.
    picMainDown = new vb::PictureBox(this, QStringLiteral("picMainDown"));
    picMainUp = new vb::PictureBox(this, QStringLiteral("picMainUp"));
    picTmp = new vb::PictureBox(this, QStringLiteral("picTmp"));
    DefaultPic = new vb::PictureBox(this, QStringLiteral("DefaultPic"));
    picMain = new vb::PictureBox(this, QStringLiteral("picMain"));
    picTabMain = new vb::PictureBox(picMain, QStringLiteral("picTabMain"));
    picSettingsMain = new vb::PictureBox(picTabMain, QStringLiteral("picSettingsMain"));
    picParticipant = new vb::PictureBox(picTabMain, QStringLiteral("picParticipant"));
    imgChk = new vb::ImageControl(picParticipant, QStringLiteral("imgChk"));
    lblDisable = new vb::Label(picParticipant, QStringLiteral("lblDisable"));
    picWebCam = new vb::PictureBox(picTabMain, QStringLiteral("picWebCam"));
    lblParticipant = new vb::Label(picTabMain, QStringLiteral("lblParticipant"));
    lblLocation = new vb::Label(picTabMain, QStringLiteral("lblLocation"));
    imgCamOnMain = new vb::ImageControl(picTabMain, QStringLiteral("imgCamOnMain"));
    imgCamOffMain = new vb::ImageControl(picTabMain, QStringLiteral("imgCamOffMain"));
    imgBrand = new vb::ImageControl(picMain, QStringLiteral("imgBrand"));
    lblStatus = new vb::Label(picMain, QStringLiteral("lblStatus"));
    imgMinMax = new vb::ImageControl(picMain, QStringLiteral("imgMinMax"));
    imgStretch = new vb::ImageControl(this, QStringLiteral("imgStretch"));
    imgOriginal = new vb::ImageControl(this, QStringLiteral("imgOriginal"));
    img[1] = new vb::ImageControl(this, QStringLiteral("img(1)"));
    img[0] = new vb::ImageControl(this, QStringLiteral("img(0)"));
    PicTabWebcam = new vb::ImageControl(this, QStringLiteral("PicTabWebcam"));
    picTabParticipant = new vb::ImageControl(this, QStringLiteral("picTabParticipant"));
    picStopCam = new vb::ImageControl(this, QStringLiteral("picStopCam"));
    imgCamStop[1] = new vb::ImageControl(this, QStringLiteral("imgCamStop(1)"));
    ImgCamOn[1] = new vb::ImageControl(this, QStringLiteral("ImgCamOn(1)"));
    imgCamStop[0] = new vb::ImageControl(this, QStringLiteral("imgCamStop(0)"));
    ImgCamOn[0] = new vb::ImageControl(this, QStringLiteral("ImgCamOn(0)"));
    imgDArrow = new vb::ImageControl(this, QStringLiteral("imgDArrow"));
    imgUpArrow = new vb::ImageControl(this, QStringLiteral("imgUpArrow"));

    // The stores only hold pictures; nobody ever sees them.
    for (QWidget *store : std::initializer_list<QWidget *> {
             picMainDown, picMainUp, picTmp, DefaultPic, imgStretch, imgOriginal, img[1], img[0],
             PicTabWebcam, picTabParticipant, picStopCam, imgCamStop[1], ImgCamOn[1], imgCamStop[0],
             ImgCamOn[0], imgDArrow, imgUpArrow})
        store->hide();

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
    imgCamOnMain->MouseDown
        = [this](int b, int s, int x, int y) { imgCamOnMain_MouseDown(b, s, x, y); };
    imgCamOnMain->MouseUp
        = [this](int b, int s, int x, int y) { imgCamOnMain_MouseUp(b, s, x, y); };
    imgCamOffMain->MouseDown
        = [this](int b, int s, int x, int y) { imgCamOffMain_MouseDown(b, s, x, y); };
    imgCamOffMain->MouseUp
        = [this](int b, int s, int x, int y) { imgCamOffMain_MouseUp(b, s, x, y); };
    picSettingsMain->MouseDown
        = [this](int b, int s, int x, int y) { picSettingsMain_MouseDown(b, s, x, y); };
    picSettingsMain->MouseUp
        = [this](int b, int s, int x, int y) { picSettingsMain_MouseUp(b, s, x, y); };
    imgChk->Click = [this] { imgChk_Click(); };
    imgMinMax->Click = [this] { imgMinMax_Click(); };
}

void cveDerEve::buildMenus()
{
    mnu_Main.Children
        = {&mnu_Device,      &mnu_blnk,        &mnuLoadPic, &mnuClearPic,   &mnublank,
           &mnu_Destination, &mnu_CaptureRate, &mnu_blank,  &mnuPixelDepth, &mnuSource};
    mnuDevices = std::make_unique<vb::MenuArray>(&mnu_Device, QStringLiteral("mnuDevices"),
                                                 QStringLiteral("webcam driver not found"));
    mnu_Destination.Children = {&mnuParticipant, &mnuWBBottomRight, &mnuWBCenter};
    mnu_CaptureRate.Children = {&mnuRate2sec, &mnuRate5sec, &mnuRateFast};
    mnuContext.Children = {&mnuCopy, &mnublnk, &mnuSave, &mnub, &mnuClear};
}

void cveDerEve::applyLayout()
{
    picMainDown->place(435, 241, 202, 17);
    picMainUp->place(434, 17, 202, 215);
    picTmp->place(325, 440, 50, 29);
    DefaultPic->place(260, 440, 50, 29);
    picMain->place(0, 0, 202, 215);
    picTabMain->place(1, 19, 200, 191);
    picSettingsMain->place(117, 169, 66, 18);
    picParticipant->place(13, 22, 174, 144);
    imgChk->place(156, 3, 13, 13);
    lblDisable->place(15, 2, 138, 14);
    picWebCam->place(13, 22, 174, 144);
    lblParticipant->place(86, 3, 94, 13);
    lblLocation->place(13, 167, 174, 22);
    imgCamOnMain->place(13, 169, 20, 18);
    imgCamOffMain->place(37, 169, 19, 18);
    imgBrand->place(4, 3, 14, 12);
    lblStatus->place(104, 4, 78, 11);
    imgMinMax->place(185, 3, 12, 12);
    imgStretch->place(593, 451, 29, 15);
    imgOriginal->place(592, 430, 29, 15);
    img[1]->place(453, 374, 13, 13);
    img[0]->place(453, 343, 13, 13);
    PicTabWebcam->place(216, 15, 200, 191);
    picTabParticipant->place(218, 229, 200, 191);
    picStopCam->place(21, 237, 176, 144);
    imgCamStop[1]->place(98, 443, 19, 18);
    ImgCamOn[1]->place(72, 443, 20, 18);
    imgCamStop[0]->place(48, 443, 19, 18);
    ImgCamOn[0]->place(22, 443, 20, 18);
    imgDArrow->place(50, 409, 12, 12);
    imgUpArrow->place(28, 410, 12, 12);
    setLabelFonts();
}

void cveDerEve::setLabelFonts()
{
    // Point sizes shrink on denser screens so that the text keeps its size in pixels.
    const double d = GetScreenDpi();
    QFont large(QStringLiteral("Arial"));
    large.setPointSizeF(8.25 * 96.0 / d);
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(6.75 * 96.0 / d);
    lblDisable->setFont(large);
    lblParticipant->setFont(large);
    lblLocation->setFont(small);
    lblStatus->setFont(small);
}

std::int32_t cveDerEve::GetScreenDpi()
{
    std::int32_t dpi = 0;
    if (screenDpiSource()) {
        dpi = screenDpiSource()();
    } else if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        dpi = static_cast<std::int32_t>(std::lround(screen->logicalDotsPerInchX()));
    }
    return dpi > 0 ? dpi : 96;
}

void cveDerEve::setScreenDpiSource(std::function<std::int32_t()> source)
{
    screenDpiSource() = std::move(source);
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

namespace {
struct SkinSlot
{
    const char *name; // the skin picture's name, also the tail of its resource name
    std::function<void(const QImage &)> assign;
};
} // namespace

static std::vector<SkinSlot> skinSlots(cveDerEve *p)
{
    auto image = [](vb::ImageControl *c) { return [c](const QImage &i) { c->setPicture(i); }; };
    auto box = [](vb::PictureBox *c) { return [c](const QImage &i) { c->setPicture(i); }; };
    // The order in which the resource library replaces the pictures.
    return {
        {"img0", image(p->img[0])},
        {"img1", image(p->img[1])},
        {"imgCamOffMain", image(p->imgCamOffMain)},
        {"ImgCamOn0", image(p->ImgCamOn[0])},
        {"ImgCamOn1", image(p->ImgCamOn[1])},
        {"imgCamOnMain", image(p->imgCamOnMain)},
        {"imgCamStop0", image(p->imgCamStop[0])},
        {"imgCamStop1", image(p->imgCamStop[1])},
        {"imgChk", image(p->imgChk)},
        {"imgDArrow", image(p->imgDArrow)},
        {"imgMinMax", image(p->imgMinMax)},
        {"imgUpArrow", image(p->imgUpArrow)},
        {"picMainDown", box(p->picMainDown)},
        {"picMainUp", box(p->picMainUp)},
        {"picSettingsMain", box(p->picSettingsMain)},
        {"picStopCam", image(p->picStopCam)},
        {"picTabParticipant", image(p->picTabParticipant)},
        {"PicTabWebcam", image(p->PicTabWebcam)},
        {"imgBrand", image(p->imgBrand)},
    };
}

void cveDerEve::loadBuiltInPictures()
{
    static const bool registered = [] {
        initBuiltInSkin();
        return true;
    }();
    Q_UNUSED(registered);
    for (const SkinSlot &slot : skinSlots(this)) {
        const QImage picture(skin::builtInSkinPath(slot.name));
        if (!picture.isNull())
            slot.assign(picture);
    }
}

void cveDerEve::UserControl_Initialize()
{
    Trace("cveDerEve Initializing");
    if (m_Initialized)
        return;
    loadBuiltInPictures();
    applyLayout();

    ParticipantQueue.clear();

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

    loadResourcePictures();

    modImageMemMapFunctions::OpenSharedHeader();
    CreateCapturedFrame();

    picMain->setPicture(picMainDown->Picture());
    picParticipant->setPicture(picStopCam->Picture());
    picTabMain->setPicture(picTabParticipant->Picture());

    m_Maximized = false;
    setCaptureInterval(0);
    m_TransmitStatus = false;

    CRegSettings settings;
    const QString device = settings.GetSetting(
        QStringLiteral("Defaults"), QStringLiteral("WebCamDevice"), QStringLiteral("-1"));
    bool isNumber = false;
    const double value = device.trimmed().toDouble(&isNumber);
    DeviceIndex = isNumber && std::isfinite(value) && std::fabs(value) < 2147483647.0
        ? roundHalfEven(value)
        : 0;

    mnuWBCenter.Checked = false;
    mnuWBBottomRight.Checked = false;
    mnuParticipant.Checked = true;
    WindowPos = 8;
    m_Initialized = true;
}

void cveDerEve::releaseHeldBlock()
{
    if (m_MapViewOut) {
        modImageMemMapFunctions::UnmapViewOfFile(m_MapViewOut);
        m_MapViewOut = nullptr;
    }
    if (m_hMapOut) {
        modImageMemMapFunctions::CloseHandle(m_hMapOut);
        m_hMapOut = 0;
    }
}

void cveDerEve::releaseQueue()
{
    // The queued blocks are closed here too: nobody else would close them once the queue goes.
    for (clsQueue &item : ParticipantQueue) {
        if (item.MapHandle)
            modImageMemMapFunctions::CloseHandle(item.MapHandle);
        item.MapHandle = 0;
    }
    ParticipantQueue.clear();
}

void cveDerEve::UserControl_Hide()
{
    Trace("WebCam UserControl_Hide Entry");
    auto disableTimers = [this] {
        for (CcrpTimer *timer : {TransmitNow.get(), tmrStart.get(), tmrMain.get(), tmrQueue.get()})
            if (timer)
                timer->setEnabled(false);
        tmrReset.setEnabled(false);
    };
    disableTimers();
    // \todo Close the decompressor and tear down the capture window here with the capture engine.
    m_HIC = 0;
    lwndc = 0;
    disableTimers();
    releaseQueue();
    releaseHeldBlock();
    modImageMemMapFunctions::CloseSharedHeader();
    m_Initialized = false;
    Trace("WebCam UserControl_Hide Exit");
}

void cveDerEve::UserControl_Terminate()
{
    UserControl_Hide();
}

std::uint32_t cveDerEve::LoadResourceLibrary()
{
    CRegSettings settings;
    const QString file = settings.GetSetting(QStringLiteral("Defaults"),
                                             QStringLiteral("ResourceFile"), QString());
    if (file.isEmpty())
        return 0;
    return platform::ResourceLibrary::open(file);
}

std::optional<QImage> cveDerEve::LoadResourcePicture(std::uint32_t handle, const QString &name)
{
    const auto resource
        = platform::ResourceLibrary::findResource(handle, QStringLiteral("WAVE"), name.toUpper());
    if (!resource || platform::ResourceLibrary::size(*resource) < 1)
        return std::nullopt;
    const QByteArray bytes = platform::ResourceLibrary::bytes(*resource);
    return platform::picture::loadFromBytes(
        reinterpret_cast<const std::uint8_t *>(bytes.constData()),
        static_cast<std::size_t>(bytes.size()));
}

void cveDerEve::FreeResourceLibrary(std::uint32_t handle)
{
    if (handle != 0)
        platform::ResourceLibrary::close(handle);
}

void cveDerEve::loadResourcePictures()
{
    const std::uint32_t library = LoadResourceLibrary();
    if (library == 0)
        return;
    // Each picture is assigned whatever the library gives: a missing one leaves its control empty.
    for (const SkinSlot &slot : skinSlots(this)) {
        const auto picture = LoadResourcePicture(library, skin::skinResourceName(slot.name));
        slot.assign(picture.value_or(QImage()));
    }
    FreeResourceLibrary(library);
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
        const vb::MenuEntry *entry = mnuDevices->at(DeviceIndex);
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
        if (CameraOn) {
            CamOff();
            m_ResumeCam = true;
            picWebCam->setPicture(QImage());
            picWebCam->Cls();
            Q_EMIT m_events.EraseWebCam();
        } else {
            m_ResumeCam = false;
        }
    } else if (!CameraOn && m_ResumeCam) {
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
    mnuRate2sec.Checked = Interval == 2000;
    mnuRate5sec.Checked = Interval == 5000;
    mnuRateFast.Checked = Interval != 2000 && Interval != 5000;
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
    if (CameraOn)
        CamOff();
    releaseHeldBlock();
    modImageMemMapFunctions::CloseSharedHeader();
    Trace("WebCam BeforeUnload Exit");
}

void cveDerEve::InitVars()
{
    Trace("cveDerEve InitVars");
    InitHardwareDrivers();
}

void cveDerEve::UpdateParticipant(std::int32_t imgNumber, const QString &PName,
                                  const QString &Location)
{
    clsQueue item;
    // Opening the block now keeps the picture alive after the parent closes its own handle.
    item.MapHandle = modImageMemMapFunctions::OpenImageBlock(imgNumber);
    if (item.MapHandle == 0)
        return;
    item.PName = PName;
    item.Location = Location;
    item.imgNumber = imgNumber;
    const bool wasEmpty = ParticipantQueue.empty();
    ParticipantQueue.push_back(std::move(item));
    if (wasEmpty)
        tmrQueue->setEnabled(true);
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
    if (DeviceIndex != -1 && m_TransmitStatus && m_hMapOut != 0 && m_ImgNumberOut != 0) {
        Q_EMIT m_events.WebCamSnapShot(m_PicHdr, m_ImgNumberOut);
        lblStatus->setCaption(QStringLiteral("[ Picture Sent ]"));
        tmrReset.setEnabled(true);
    }
}

// ---------------------------------------------------------------------------------------------
// Strip and tabs

void cveDerEve::picTabMain_MouseUp(int, int, int X, int Y)
{
    if (CurrentTab() != 0 && X >= 94 && X <= 177 && Y >= 3 && Y <= 16)
        setCurrentTab(0);
    else if (CurrentTab() == 0 && X >= 4 && X <= 78 && Y >= 3 && Y <= 16)
        setCurrentTab(1);
}

void cveDerEve::lblParticipant_Click()
{
    if (CurrentTab() == 1)
        setCurrentTab(0);
}

void cveDerEve::imgCamOnMain_MouseDown(int Button, int, int, int)
{
    if (Button == vb::vbLeftButton)
        imgCamOnMain->setBorderStyle(1);
}

void cveDerEve::imgCamOnMain_MouseUp(int Button, int, int, int)
{
    if (Button != vb::vbLeftButton)
        return;
    imgCamOnMain->setBorderStyle(0);
    CamOn();
    m_ResumeCam = false;
}

void cveDerEve::imgCamOffMain_MouseDown(int Button, int, int, int)
{
    if (Button == vb::vbLeftButton)
        imgCamOffMain->setBorderStyle(1);
}

void cveDerEve::imgCamOffMain_MouseUp(int Button, int, int, int)
{
    if (Button != vb::vbLeftButton)
        return;
    imgCamOffMain->setBorderStyle(0);
    CamOff();
    LastAttempt = 0;
    m_ResumeCam = false;
}

void cveDerEve::picSettingsMain_MouseDown(int, int, int, int)
{
    picSettingsMain->setBorderStyle(1);
}

void cveDerEve::picSettingsMain_MouseUp(int, int, int, int)
{
    picSettingsMain->setBorderStyle(0);
}

void cveDerEve::imgChk_Click()
{
    if (!imgChk->Tag.isEmpty()) {
        imgChk->Tag.clear();
        Q_EMIT m_events.ReceiveCamImages(true);
        lblDisable->hide();
        imgChk->setToolTipText(QStringLiteral("Disable receiving"));
        imgChk->setPicture(img[0]->Picture());
    } else {
        imgChk->Tag = QStringLiteral("x");
        Q_EMIT m_events.ReceiveCamImages(false);
        lblDisable->show();
        imgChk->setToolTipText(QStringLiteral("Enable receiving"));
        imgChk->setPicture(img[1]->Picture());
    }
}

void cveDerEve::imgMinMax_Click()
{
    if (picMain->height() == picMainUp->height()) {
        picMain->setPicture(picMainDown->Picture());
        imgMinMax->setPicture(imgUpArrow->Picture());
        imgMinMax->setToolTipText(QStringLiteral("Restore"));
        m_Maximized = false;
        Q_EMIT m_events.MinMaxResize(true, picMainDown->height());
    } else {
        picMain->setPicture(picMainUp->Picture());
        imgMinMax->setPicture(imgDArrow->Picture());
        lblStatus->setCaption(QString());
        imgMinMax->setToolTipText(QStringLiteral("Minimize"));
        m_Maximized = true;
        Q_EMIT m_events.MinMaxResize(false, picMainUp->height());
    }
}

// ---------------------------------------------------------------------------------------------
// Timers

void cveDerEve::tmrQueue_Timer(std::int32_t)
{
    tmrQueue->setEnabled(false);
    const auto n = ParticipantQueue.size();
    if (n == 0)
        return;
    // Take the record out first so that a fault while showing it cannot leave it queued.
    clsQueue record = std::move(ParticipantQueue.front());
    ParticipantQueue.pop_front();
    UpdateParticipantNow(record.MapHandle, record.PName, record.Location);
    if (n - 1 >= 1)
        tmrQueue->setEnabled(true);
}

void cveDerEve::tmrMain_Timer(std::int32_t)
{
    Trace("tmrMain_Timer Entry: DeviceIndex:", DeviceIndex, " lwndc:", lwndc,
          " HardwareBusyFlag:", HardwareBusyFlag, " Pause:", m_Pause);
    if (DeviceIndex < 0 || DeviceIndex > 9 || lwndc == 0 || HardwareBusyFlag || m_Pause)
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
    if (m_TransmitStatus && m_hMapOut != 0 && m_ImgNumberOut != 0)
        lblStatus->setCaption(QString());
}

// ---------------------------------------------------------------------------------------------
// Camera

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
    if (CameraOn)
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
    CameraOn = false;
    // \todo Remove the callbacks and disconnect the driver of lwndc.
    m_MenuOpen = false;
    // \todo Close the decompressor and destroy the capture window.
    m_HIC = 0;
    lwndc = 0;
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
