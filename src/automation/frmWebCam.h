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
