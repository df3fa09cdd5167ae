#include "automation/zozEZUdeZid.h"

#include <cmath>
#include <limits>

#include "automation/frmWebCam.h"
#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "platform/core/System.h"

using DebugTrace::Trace;
using ExceptionFilter::Guarded;

namespace {
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
    Guarded([] { platform::setNormalPriority(); });
    Guarded([] { ExceptionFilter::InstallExceptionFilter(); });
    Guarded([this] {
        MyWebCam = std::make_unique<frmWebCam>();
        WebCamEvents *form = MyWebCam->events();
        connect(form, &WebCamEvents::MinMaxResize, this, &zozEZUdeZid::MyWebCam_MinMaxResize,
                Qt::DirectConnection);
        relayEvents(form, &m_events);
    });
}

zozEZUdeZid::~zozEZUdeZid()
{
    Trace("WebCam Class_Terminate Entry");
    Guarded([this] {
        if (MyWebCam)
            MyWebCam->BeforeUnload();
    });
    Guarded([this] { MyWebCam.reset(); });
    Trace("WebCam Class_Terminate Exit");
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
    Guarded([this] { MyWebCam->Maximize(); });
}

void zozEZUdeZid::EraseWebCam()
{
    Guarded([this] { MyWebCam->EraseWebCam(); });
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
    Guarded([this] { MyWebCam->InitVars(); });
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
    Guarded([&] { MyWebCam->UpdateParticipant(imgNumber, PName, Location); });
}

void zozEZUdeZid::Minimize()
{
    Guarded([this] { MyWebCam->Minimize(); });
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
    return guardedGet<std::int32_t>([this] { return MyWebCam->CaptureInterval(); });
}

void zozEZUdeZid::setCaptureInterval(std::int32_t Interval)
{
    Guarded([&] { MyWebCam->setCaptureInterval(Interval); });
}

bool zozEZUdeZid::Maximized()
{
    return guardedGet<bool>([this] { return MyWebCam->Maximized(); });
}

bool zozEZUdeZid::TransmitStatus()
{
    return guardedGet<bool>([this] { return MyWebCam->TransmitStatus(); });
}

void zozEZUdeZid::setTransmitStatus(bool Status)
{
    Guarded([&] { MyWebCam->setTransmitStatus(Status); });
    Trace("WebCam TransmitStatus = ", Status);
}

void zozEZUdeZid::BeforeUnload()
{
    Guarded([this] { MyWebCam->BeforeUnload(); });
}

void zozEZUdeZid::setDebugFlag(bool Value)
{
    DebugTrace::setDebugFlag(Value);
}

void zozEZUdeZid::setTransmitPost(bool YorN)
{
    Guarded([&] { MyWebCam->setTransmitPost(YorN); });
    Trace("WebCam TransmitPost = ", YorN);
}

void zozEZUdeZid::setParentHandle(std::int32_t handle)
{
    Guarded([&] { MyWebCam->setParentHandle(handle); });
}

void zozEZUdeZid::setPause(bool Value)
{
    Guarded([&] { MyWebCam->setPause(Value); });
}

std::int32_t zozEZUdeZid::MinHeight()
{
    return guardedGet<std::int32_t>([this] { return MyWebCam->MinHeight(); });
}

std::int32_t zozEZUdeZid::MaxHeight()
{
    return guardedGet<std::int32_t>([this] { return MyWebCam->MaxHeight(); });
}

void zozEZUdeZid::WebCamDefaultPic(const QString &NewValue)
{
    Guarded([&] { MyWebCam->WebCamDefaultPic(NewValue); });
}

void zozEZUdeZid::setCurrentTab(std::int32_t Value)
{
    Guarded([&] { MyWebCam->setCurrentTab(Value); });
}

std::int32_t zozEZUdeZid::CurrentTab()
{
    return guardedGet<std::int32_t>([this] { return MyWebCam->CurrentTab(); });
}

void zozEZUdeZid::RecieveWebCamImages(bool YorN)
{
    Guarded([&] { MyWebCam->RecieveWebCamImages(YorN); });
}
