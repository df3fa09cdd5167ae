#pragma once

#include <cstdint>
#include <utility>

#include "platform/core/FaultGuard.h"

// The process's exception filter: faults inside a guarded step are reported with one trace line
// and skip that step only.
namespace ExceptionFilter {

// 0: not installed; otherwise the filter in force before, or 1 when there was none.
std::intptr_t PrevExceptionFilter();

void InstallExceptionFilter();
void RemoveExceptionFilter();

// Writes "WebCam Exception encountered: -2147220991 Ecode:" and the code, always, without taking
// any lock.
void WebCamExceptionFilter(std::uint32_t exceptionCode);

// No guard reaches across a nested event loop; see platform::FaultGuard::Barrier.
using GuardBarrier = platform::FaultGuard::Barrier;

// Runs one step of the component (a member, a handler, a timer tick). A fault inside it is traced
// and the step is abandoned; returns false then.
template<class Step> bool Guarded(Step &&step)
{
    std::uint32_t code = 0;
    if (platform::FaultGuard::run(std::forward<Step>(step), &code))
        return true;
    WebCamExceptionFilter(code);
    return false;
}

} // namespace ExceptionFilter
