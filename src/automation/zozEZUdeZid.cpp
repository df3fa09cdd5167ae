#include "automation/zozEZUdeZid.h"

#include <cmath>
#include <limits>

#include "automation/frmWebCam.h"
#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "panel/EventRelay.h"
#include "panel/cveDerEve.h"
#include "platform/core/System.h"

using DebugTrace::Trace;
using ExceptionFilter::Guarded;

// The members forward to the panel through the form's WebCam: the form's own members of the same
// names would only pass the arguments on unchanged.

namespace {
int g_liveObjects = 0;

// A get whose forwarding failed returns 0 or False.
template<class Result, class Step> Result guardedGet(Step &&step)
{
    Result result {};
    Guarded([&] { result = step(); });
    return result;
}
} // namespace

zozEZUdeZid::zozEZUdeZid(QObject *parent) : QObject(parent)
{
    ++g_liveObjects;
    Guarded([] { platform::setNormalPriority(); });
    Guarded([] { ExceptionFilter::InstallExceptionFilter(); });
    Guarded([this] {
        MyWebCam = std::make_unique<frmWebCam>();
        WebCamEvents *form = MyWebCam->events();
        connect(form, &WebCamEvents::MinMaxResize, this, &zozEZUdeZid::MyWebCam_MinMaxResize,
                Qt::DirectConnection);
        relayEvents(form, &m_events, &WebCamEvents::MinMaxResize);
    });
}

zozEZUdeZid::~zozEZUdeZid()
{
    Trace("WebCam Class_Terminate Entry");
    Guarded([this] {
        if (MyWebCam)
            MyWebCam->WebCam()->BeforeUnload();
    });
    Guarded([this] { MyWebCam.reset(); });
    Trace("WebCam Class_Terminate Exit");
    // One server serves the objects of several parents: the filter stays while any object lives,
    // so that the end of one parent's object never leaves the others unguarded.
    if (--g_liveObjects == 0)
        ExceptionFilter::RemoveExceptionFilter();
}

void zozEZUdeZid::MyWebCam_MinMaxResize(bool Minimized, std::int32_t)
{
    const std::int32_t shift = Minimized ? 198 : -198;
    const std::int64_t moved = static_cast<std::int64_t>(m_TopPos) + shift;
    if (moved >= std::numeric_limits<std::int32_t>::min()
        && moved <= std::numeric_limits<std::int32_t>::max())
        m_TopPos = static_cast<std::int32_t>(moved);
    Guarded([this] {
        MyWebCam->move(m_LeftPos, m_TopPos);
        MyWebCam->raise();
    });
    Q_EMIT m_events.MinMaxResize(Minimized, shift);
}

void zozEZUdeZid::Maximize()
{
    Guarded([this] { MyWebCam->WebCam()->Maximize(); });
}

void zozEZUdeZid::EraseWebCam()
{
    Guarded([this] { MyWebCam->WebCam()->EraseWebCam(); });
}

bool zozEZUdeZid::Visible()
{
    return guardedGet<bool>([this] { return MyWebCam->isVisible(); });
}

void zozEZUdeZid::setVisible(bool YorN)
{
    Guarded([&] { MyWebCam->setVisible(YorN); });
}

std::int32_t zozEZUdeZid::hWndCam()
{
    // X11 window ids are 29-bit values, so they fit the 32-bit handle.
    return guardedGet<std::int32_t>(
        [this] { return static_cast<std::int32_t>(MyWebCam->winId()); });
}

void zozEZUdeZid::Show()
{
    Guarded([this] { MyWebCam->show(); });
    Guarded([this] { MyWebCam->WebCam()->InitVars(); });
}

void zozEZUdeZid::SetPosition(std::int32_t TopPos, std::int32_t LeftPos)
{
    Guarded([&] {
        MyWebCam->move(LeftPos, TopPos);
        MyWebCam->raise();
    });
    m_LeftPos = LeftPos;
    m_TopPos = TopPos;
}

void zozEZUdeZid::UpdateParticipant(std::int32_t imgNumber, const QString &PName,
                                    const QString &Location)
{
    Guarded([&] { MyWebCam->WebCam()->UpdateParticipant(imgNumber, PName, Location); });
}

void zozEZUdeZid::Minimize()
{
    Guarded([this] { MyWebCam->WebCam()->Minimize(); });
}

std::int32_t zozEZUdeZid::Height()
{
    return guardedGet<std::int32_t>(
        [this] { return static_cast<std::int32_t>(std::lround(MyWebCam->innerHeight())); });
}

void zozEZUdeZid::setHeight(std::int32_t Camheight)
{
    Guarded([&] {
        const float inner = MyWebCam->innerHeight();
        if (inner == 0.0f)
            return;
        MyWebCam->setOuterHeight(MyWebCam->outerHeight() * static_cast<float>(Camheight) / inner);
    });
}

std::int32_t zozEZUdeZid::CaptureInterval()
{
    return guardedGet<std::int32_t>([this] { return MyWebCam->WebCam()->CaptureInterval(); });
}

void zozEZUdeZid::setCaptureInterval(std::int32_t Interval)
{
    Guarded([&] { MyWebCam->WebCam()->setCaptureInterval(Interval); });
}

bool zozEZUdeZid::Maximized()
{
    return guardedGet<bool>([this] { return MyWebCam->WebCam()->Maximized(); });
}

bool zozEZUdeZid::TransmitStatus()
{
    return guardedGet<bool>([this] { return MyWebCam->WebCam()->TransmitStatus(); });
}

void zozEZUdeZid::setTransmitStatus(bool Status)
{
    Guarded([&] { MyWebCam->WebCam()->setTransmitStatus(Status); });
    Trace("WebCam TransmitStatus = ", Status);
}

void zozEZUdeZid::BeforeUnload()
{
    Guarded([this] { MyWebCam->WebCam()->BeforeUnload(); });
}

void zozEZUdeZid::setDebugFlag(bool Value)
{
    DebugTrace::setDebugFlag(Value);
}

void zozEZUdeZid::setTransmitPost(bool YorN)
{
    Guarded([&] { MyWebCam->WebCam()->setTransmitPost(YorN); });
    Trace("WebCam TransmitPost = ", YorN);
}

void zozEZUdeZid::setParentHandle(std::int32_t handle)
{
    Guarded([&] { MyWebCam->WebCam()->setParentHandle(handle); });
}

void zozEZUdeZid::setPause(bool Value)
{
    Guarded([&] { MyWebCam->WebCam()->setPause(Value); });
}

std::int32_t zozEZUdeZid::MinHeight()
{
    return guardedGet<std::int32_t>([this] { return MyWebCam->WebCam()->MinHeight(); });
}

std::int32_t zozEZUdeZid::MaxHeight()
{
    return guardedGet<std::int32_t>([this] { return MyWebCam->WebCam()->MaxHeight(); });
}

void zozEZUdeZid::WebCamDefaultPic(const QString &NewValue)
{
    Guarded([&] { MyWebCam->WebCam()->WebCamDefaultPic(NewValue); });
}

void zozEZUdeZid::setCurrentTab(std::int32_t Value)
{
    Guarded([&] { MyWebCam->WebCam()->setCurrentTab(Value); });
}

std::int32_t zozEZUdeZid::CurrentTab()
{
    return guardedGet<std::int32_t>([this] { return MyWebCam->WebCam()->CurrentTab(); });
}

void zozEZUdeZid::RecieveWebCamImages(bool YorN)
{
    Guarded([&] { MyWebCam->WebCam()->RecieveWebCamImages(YorN); });
}
