#include "automation/frmWebCam.h"

#include <cmath>

#include "base/DebugTrace.h"
#include "panel/EventRelay.h"
#include "panel/cveDerEve.h"

frmWebCam::frmWebCam() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::Tool)
{
    setObjectName(QStringLiteral("frmWebCam"));
    setWindowTitle(QStringLiteral("WebCam"));
    resize(202, 215);
    m_WebCam = new cveDerEve(this);
    WebCamEvents *panel = m_WebCam->events();
    // Direct connections: the arrays are passed on by reference and the parent's handler runs
    // before the panel goes on.
    connect(panel, &WebCamEvents::MinMaxResize, this, &frmWebCam::WebCam_MinMaxResize,
            Qt::DirectConnection);
    relayEvents(panel, &m_events, &WebCamEvents::MinMaxResize);
    Form_Load();
}

frmWebCam::~frmWebCam()
{
    // Unloading hides and ends the panel before the window goes.
    delete m_WebCam;
    m_WebCam = nullptr;
}

void frmWebCam::Form_Load()
{
    DebugTrace::Trace("frmWebcam loading");
    m_WebCam->setGeometry(0, 0, 202, 215);
}

float frmWebCam::outerHeight() const
{
    return static_cast<float>(frameGeometry().height());
}

float frmWebCam::innerHeight() const
{
    return static_cast<float>(height());
}

void frmWebCam::setOuterHeight(float height)
{
    const int border = frameGeometry().height() - this->height();
    resize(width(), std::max(0, static_cast<int>(std::lround(height)) - border));
    // A hidden window gets its resize event only when shown; the panel must follow at once.
    if (!isVisible())
        Form_Resize();
}

void frmWebCam::Form_Resize()
{
    const float inner = innerHeight();
    if (inner == 0.0f)
        return; // the ratio is undefined; the panel keeps its height
    // The inner height, reached through the ratio of outer to inner height rather than read
    // directly: the rule holds for a form with a border as for one without, and the division in
    // single precision is what decides the panel's height to the pixel.
    const float h = outerHeight() / (outerHeight() / inner);
    const int rounded = static_cast<int>(std::lround(h));
    if (m_WebCam->height() != rounded)
        m_WebCam->resize(m_WebCam->width(), rounded);
}

void frmWebCam::resizeEvent(QResizeEvent *)
{
    Form_Resize();
}

void frmWebCam::showEvent(QShowEvent *)
{
    Form_Resize();
}

void frmWebCam::WebCam_MinMaxResize(bool Minimized, std::int32_t myHeight)
{
    // Hidden while it changes size and while the parent moves it, so that the person never sees
    // the window at the new height in the old place.
    hide();
    const QPoint topLeft = pos();
    if (innerHeight() != 0.0f)
        setOuterHeight(outerHeight() / innerHeight() * static_cast<float>(myHeight));
    // Left, top, then left again: a window manager may move a window whose height changed, and
    // the second left puts back what the top move disturbed.
    move(topLeft.x(), pos().y());
    move(pos().x(), topLeft.y());
    move(topLeft.x(), pos().y());
    // Raised before the form shows again: the parent's handler moves the window by 198 pixels.
    Q_EMIT m_events.MinMaxResize(Minimized, myHeight);
    show();
}
