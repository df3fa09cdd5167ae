#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "capture/CaptureSession.h"
#include "exchange/ParticipantDecode.h"
#include "exchange/ParticipantQueue.h"
#include "exchange/Sender.h"
#include "panel/BusyCursor.h"
#include "panel/PanelControls.h"
#include "panel/VbControls.h"
#include "panel/WebCamEvents.h"
#include "support/AsyncPictureRead.h"
#include "support/CcrpTimer.h"

class cDibSection;
class PanelTestAccess;

// The webcam panel: participant tab and webcam tab, a 17-pixel strip when collapsed.
//
// The members keep the component's own names letter for letter (RecieveWebCamImages beside the
// event ReceiveCamImages, m_HIC, lwndc, ...): the trace lines print some of them, and a reader
// can follow the behaviour and the code side by side. Everything but the members the host form
// calls is private; tests read the state through PanelTestAccess and drive the panel with mouse
// events on its controls, which carry the control names as their object names.
class cveDerEve final : public QWidget, private PanelControls
{
    Q_OBJECT
public:
    explicit cveDerEve(QWidget *parent = nullptr);
    ~cveDerEve() override;

    WebCamEvents *events() { return &m_events; }

    // Members called by the host form.
    void setCurrentTab(std::int32_t Value);
    std::int32_t CurrentTab() const { return m_CurrentTab; }
    void RecieveWebCamImages(bool YorN);
    void WebCamDefaultPic(const QString &NewValue);
    std::int32_t MinHeight() const;
    std::int32_t MaxHeight() const;
    void setPause(bool Value);
    void Maximize();
    void setParentHandle(std::int32_t handle) { m_ParentHandle = handle; }
    void setTransmitPost(bool YorN);
    bool Maximized() const { return m_Maximized; }
    void setCaptureInterval(std::int32_t Interval);
    std::int32_t CaptureInterval() const { return m_CaptureInterval; }
    void setTransmitStatus(bool Status);
    bool TransmitStatus() const { return m_TransmitStatus; }
    void BeforeUnload();
    void InitVars();
    void Minimize();
    void UpdateParticipant(std::int32_t imgNumber, const QString &PName, const QString &Location);
    void EraseWebCam();
    void NewParticipant();

    // The hide steps. They run when the panel ends, not when the host form hides itself for a
    // moment during a minimise or restore: capture and exchange go on through those. They can
    // run twice (hide, then end) without harm.
    void UserControl_Hide();

private:
    friend class PanelTestAccess;

    // Start-up and shutdown.
    void UserControl_Initialize();
    void UserControl_Terminate();
    void UserControl_AsyncReadComplete(const QString &PropertyName, const QImage &Value);
    // Gives the controls their handlers.
    void connectControls();
    // Creates both menu trees from their table and connects each entry to its handler.
    void buildMenus();
    void releaseHeldBlock();
    void disableTimers();

    // Camera start and stop, device discovery and selection.
    void CamOn();
    void startCamera();
    void CamOff();
    void InitHardwareDrivers();
    void mnuDevices_Click(int Index);
    void SendPicture(const QString &path, bool announce);
    void PaintPreviewLines(const QStringList &lines);
    void showCameraRunning(bool running);
    // The capture tick after its guards, with tmrMain off.
    void captureTick();
    // Sends the tick's frame; false when its block could not be made.
    bool transmitFrame();

    // Handlers of the strip and the tabs.
    void picTabMain_MouseUp(int Button, int Shift, int X, int Y);
    void lblParticipant_Click();
    void imgCamOnMain_MouseUp(int Button, int Shift, int X, int Y);
    void imgCamOffMain_MouseUp(int Button, int Shift, int X, int Y);
    void imgChk_Click();
    // The receive check box and the label beside it as they show receiving on or off.
    void showReceiving(bool receive);
    void imgMinMax_Click();

    // The two pop-up menus: openers and commands.
    void picSettingsMain_Click();
    void picParticipant_MouseUp(int Button, int Shift, int X, int Y);
    void picWebCam_MouseUp(int Button, int Shift, int X, int Y);
    void mnuLoadPic_Click();
    void mnuClearPic_Click();
    // The destination entries, by their WindowPos code, and the capture rates, in milliseconds.
    void chooseDestination(std::int32_t code);
    void chooseRate(std::int32_t interval);
    void mnuPixelDepth_Click();
    void mnuSource_Click();
    void mnuCopy_Click();
    void mnuSave_Click();
    void mnuclear_Click();
    // Empties the preview and its picture; the checked stored-picture entry that was showing, or
    // nullptr when a capture device or nothing was.
    vb::MenuEntry *clearPreview();
    // The stored-picture entry at DeviceIndex, or nullptr when DeviceIndex names a capture device
    // or nothing.
    const vb::MenuEntry *chosenPicture() const;

    // Timer ticks.
    void tmrQueue_Timer(std::int32_t Milliseconds);
    void tmrMain_Timer(std::int32_t Milliseconds);
    void tmrStart_Timer(std::int32_t Milliseconds);
    void TransmitNow_Timer(std::int32_t Milliseconds);
    void tmrReset_Timer();

    // Reads, decodes and shows one queued picture; releases its block on every path.
    void UpdateParticipantNow(modImageMemMapFunctions::ImageBlock Block, const QString &PName,
                              const QString &Location);

    // State.
    bool m_Initialized = false;
    bool m_Maximized = false;
    bool m_TransmitPost = false;
    std::int32_t m_ParentHandle = 0;
    bool m_Pause = false;
    bool m_MenuOpen = false;
    bool m_ResumeCam = false;
    std::int32_t DeviceIndex = -1;
    std::int32_t DeviceCount = 0;
    std::int32_t LastDriverIndex = -1;
    std::int32_t m_CaptureInterval = 0;
    bool m_TransmitStatus = false;
    std::int32_t WindowPos = 8;
    std::int32_t m_CurrentTab = 0;
    participant::ParticipantQueue ParticipantQueue;
    participant::Receiver m_Receiver;
    bool HardwareBusyFlag = false;
    std::int32_t LastAttempt = 0;
    BusyCursor m_busyCursor;

    // The camera: capture window, decompressor, formats and the frame bitmap PrevCap.
    CaptureSession m_Capture;

    // Menus: the settings menu mnu_Main and the context menu mnuContext, with their entries by
    // name (buildMenus lists them).
    vb::MenuTree m_menus;
    vb::MenuArray &mnuDevices() const { return m_menus.array(u"mnuDevices"); }

    // Timers.
    std::unique_ptr<CcrpTimer> tmrQueue;
    std::unique_ptr<CcrpTimer> tmrMain;
    std::unique_ptr<CcrpTimer> tmrStart;
    std::unique_ptr<CcrpTimer> TransmitNow;
    TimerControl tmrReset;

    // The white board's frame, kept here so that a tick abandoned during its event leaves no copy.
    QByteArray m_clientPicture;

    WebCamEvents m_events;
    // Frames and the held still picture (m_hMapOut, m_ImgNumberOut, m_PicHdr) leave through it.
    exchange::Sender m_Sender {
        [this](QByteArray &picHdr, std::int32_t n) { Q_EMIT m_events.WebCamSnapShot(picHdr, n); }};
    // The default picture's reads: one in flight and one waiting at most, whatever the parent asks.
    AsyncPictureReader m_defaultPicReader {[this](const QImage &picture) {
        UserControl_AsyncReadComplete(QStringLiteral("DefaultWebCamPic"), picture);
    }};
};
