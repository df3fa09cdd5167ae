#pragma once

#include <QWidget>

#include <cstdint>

#include "panel/WebCamEvents.h"

class cveDerEve;

// The window that carries the panel. It forwards the automation object's calls to the panel,
// re-raises the panel's events and keeps the panel as high as its own inner area.
class frmWebCam final : public QWidget
{
    Q_OBJECT
public:
    // Creating the form loads it hidden: the panel starts up first, then Form_Load runs.
    frmWebCam();
    ~frmWebCam() override;

    WebCamEvents *events() { return &m_events; }
    cveDerEve *WebCam() { return m_WebCam; }

    // Outer height (the whole window) and inner height (the client area), in pixels.
    float outerHeight() const;
    float innerHeight() const;
    void setOuterHeight(float height);

    // Forwarded members.
    std::int32_t CurrentTab();
    void setCurrentTab(std::int32_t Value);
    std::int32_t MinHeight();
    std::int32_t MaxHeight();
    void setPause(bool Value);
    void setParentHandle(std::int32_t handle);
    void setTransmitPost(bool YorN);
    bool Maximized();
    bool TransmitStatus();
    void setTransmitStatus(bool Status);
    std::int32_t CaptureInterval();
    void setCaptureInterval(std::int32_t Interval);
    void RecieveWebCamImages(bool YorN);
    void WebCamDefaultPic(const QString &NewValue);
    void Maximize();
    void BeforeUnload();
    void EraseWebCam();
    void InitVars();
    void Minimize();
    void UpdateParticipant(std::int32_t imgNumber, const QString &PName, const QString &Location);

    void Form_Load();
    void Form_Resize();
    void WebCam_MinMaxResize(bool Minimized, std::int32_t myHeight);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    WebCamEvents m_events;
    cveDerEve *m_WebCam = nullptr;
};
