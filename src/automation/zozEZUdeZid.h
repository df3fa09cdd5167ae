#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

#include "panel/WebCamEvents.h"

class frmWebCam;

// The events of the automation object. COM delivers them through the object's source interface;
// in-process parents connect to these signals (directly: the byte arrays are in-out references,
// and a handler may change them before the panel goes on).
class zozEZUdeZidEvents : public WebCamEvents
{
    Q_OBJECT
public:
    using WebCamEvents::WebCamEvents;
};

// The automation object a parent creates. Construction is Class_Initialize, destruction
// Class_Terminate. Every member runs inside the fault guard and never reports a failure; a get
// whose forwarding failed returns 0 or False.
class zozEZUdeZid final : public QObject
{
    Q_OBJECT
public:
    explicit zozEZUdeZid(QObject *parent = nullptr);
    ~zozEZUdeZid() override;

    zozEZUdeZidEvents *events() { return &m_events; }

    // The 27 interface slots, in slot order.
    void Maximize();
    void EraseWebCam();
    bool Visible();
    void setVisible(bool YorN);
    std::int32_t hWndCam();
    void Show();
    void SetPosition(std::int32_t TopPos, std::int32_t LeftPos);
    void UpdateParticipant(std::int32_t imgNumber, const QString &PName, const QString &Location);
    void Minimize();
    std::int32_t Height();
    void setHeight(std::int32_t Camheight);
    std::int32_t CaptureInterval();
    void setCaptureInterval(std::int32_t Interval);
    bool Maximized();
    bool TransmitStatus();
    void setTransmitStatus(bool Status);
    void BeforeUnload();
    void setDebugFlag(bool Value);
    void setTransmitPost(bool YorN);
    void setParentHandle(std::int32_t handle);
    void setPause(bool Value);
    std::int32_t MinHeight();
    std::int32_t MaxHeight();
    void WebCamDefaultPic(const QString &NewValue);
    void setCurrentTab(std::int32_t Value);
    std::int32_t CurrentTab();
    void RecieveWebCamImages(bool YorN);

    // The host form, for tests and the demo host.
    frmWebCam *form() { return MyWebCam.get(); }

private:
    void MyWebCam_MinMaxResize(bool Minimized, std::int32_t myHeight);

    zozEZUdeZidEvents m_events;
    std::unique_ptr<frmWebCam> MyWebCam;
    std::int32_t m_LeftPos = 0;
    std::int32_t m_TopPos = 0;
};
