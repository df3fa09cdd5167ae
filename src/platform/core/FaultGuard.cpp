#include "platform/core/FaultGuard.h"

#include <signal.h>

#include <array>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

constexpr std::array kSignals {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

struct CodeEntry
{
    int signal;
    int signalCode; // 0 matches any
    std::uint32_t windowsCode;
};

// Specific entries first; the last entry of each signal is its fallback.
constexpr std::array kCodes {
    CodeEntry {SIGSEGV, 0, 0xC0000005u}, // EXCEPTION_ACCESS_VIOLATION
    CodeEntry {SIGBUS, BUS_ADRALN, 0x80000002u}, // EXCEPTION_DATATYPE_MISALIGNMENT
    CodeEntry {SIGBUS, 0, 0xC0000006u}, // EXCEPTION_IN_PAGE_ERROR
    CodeEntry {SIGFPE, FPE_INTDIV, 0xC0000094u}, // EXCEPTION_INT_DIVIDE_BY_ZERO
    CodeEntry {SIGFPE, FPE_INTOVF, 0xC0000095u}, // EXCEPTION_INT_OVERFLOW
    CodeEntry {SIGFPE, FPE_FLTDIV, 0xC000008Eu}, // EXCEPTION_FLT_DIVIDE_BY_ZERO
    CodeEntry {SIGFPE, FPE_FLTOVF, 0xC0000091u}, // EXCEPTION_FLT_OVERFLOW
    CodeEntry {SIGFPE, FPE_FLTUND, 0xC0000093u}, // EXCEPTION_FLT_UNDERFLOW
    CodeEntry {SIGFPE, FPE_FLTRES, 0xC000008Fu}, // EXCEPTION_FLT_INEXACT_RESULT
    CodeEntry {SIGFPE, 0, 0xC0000090u}, // EXCEPTION_FLT_INVALID_OPERATION
    CodeEntry {SIGILL, ILL_PRVOPC, 0xC0000096u}, // EXCEPTION_PRIV_INSTRUCTION
    CodeEntry {SIGILL, 0, 0xC000001Du}, // EXCEPTION_ILLEGAL_INSTRUCTION
};

thread_local FaultGuard::Frame *t_innermost = nullptr;

// What this thread must undo when a fault abandons a step: the jump-safe mutexes it holds and
// the OnAbandon actions in scope, each with the guard depth at which it was noted and the object
// that noted it. Fixed size, so that undoing allocates nothing.
struct Undo
{
    FaultGuard::OnAbandon::Action action;
    void *context;
    const void *owner;
    int depth;
};
constexpr int kMaxUndo = 16;
thread_local Undo t_undo[kMaxUndo];
thread_local int t_undoCount = 0;

// Nesting of guard frames, barriers included, so that depths keep growing inward even where a
// barrier hides the outer frames.
thread_local int t_depth = 0;

int currentDepth()
{
    return t_depth;
}

// Beyond the table's size an entry is simply not kept; no code of ours nests that deep.
void noteUndo(FaultGuard::OnAbandon::Action action, void *context, const void *owner)
{
    if (t_undoCount < kMaxUndo)
        t_undo[t_undoCount++] = {action, context, owner, currentDepth()};
}

void forgetUndo(const void *owner)
{
    for (int i = t_undoCount - 1; i >= 0; --i) {
        if (t_undo[i].owner == owner) {
            for (int j = i; j + 1 < t_undoCount; ++j)
                t_undo[j] = t_undo[j + 1];
            --t_undoCount;
            return;
        }
    }
}

bool g_installed = false;
std::array<struct sigaction, kSignals.size()> g_previous {};

// The main thread's alternate stack; a stack overflow inside a guarded step still reaches the
// handler this way.
constexpr size_t kAltStackSize = 64 * 1024;
alignas(16) char g_altStack[kAltStackSize];

void onFault(int signal, siginfo_t *info, void *)
{
    FaultGuard::Frame *frame = t_innermost;
    if (!frame) {
        // Not inside a guarded step: let the fault end the process as it would without us.
        struct sigaction dfl
        { };
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signal, &dfl, nullptr);
        if (info->si_code <= 0) // sent by kill() or raise(): deliver it again
            raise(signal);
        return; // a hardware fault repeats at once and now takes the default action
    }
    frame->code = windowsExceptionCode(signal, info->si_code);
    siglongjmp(frame->env, 1);
}

} // namespace

std::uint32_t windowsExceptionCode(int signal, int signalCode)
{
    for (const CodeEntry &e : kCodes) {
        if (e.signal == signal && (e.signalCode == 0 || e.signalCode == signalCode))
            return e.windowsCode;
    }
    return 0xC0000005u;
}

FaultGuard::Frame::Frame() : outer(t_innermost), depth(++t_depth)
{
    t_innermost = this;
}

void FaultGuard::Frame::leave()
{
    if (!active)
        return;
    active = false;
    t_innermost = outer;
    t_depth = depth - 1;
}

FaultGuard::Barrier::Barrier() : m_hidden(t_innermost)
{
    t_innermost = nullptr;
}

FaultGuard::Barrier::~Barrier()
{
    t_innermost = m_hidden;
}

void FaultGuard::runAbandonActions(int depth)
{
    // Noted inside the abandoned step (at its depth or deeper): most recent first. Each entry
    // leaves the table before its action runs, so an action that faults cannot run twice.
    while (t_undoCount > 0 && t_undo[t_undoCount - 1].depth >= depth) {
        const Undo undo = t_undo[--t_undoCount];
        undo.action(undo.context);
    }
}

FaultGuard::OnAbandon::OnAbandon(Action action, void *context)
{
    noteUndo(action, context, this);
}

FaultGuard::OnAbandon::~OnAbandon()
{
    forgetUndo(this);
}

void JumpSafeMutex::noteHeld()
{
    noteUndo([](void *mutex) { static_cast<JumpSafeMutex *>(mutex)->m_mutex.unlock(); }, this,
             this);
}

void JumpSafeMutex::lock()
{
    m_mutex.lock();
    noteHeld();
}

bool JumpSafeMutex::try_lock()
{
    if (!m_mutex.try_lock())
        return false;
    noteHeld();
    return true;
}

void JumpSafeMutex::unlock()
{
    forgetUndo(this);
    m_mutex.unlock();
}

bool FaultGuard::install()
{
    if (g_installed)
        return false;
    stack_t current {};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t alt {};
        alt.ss_sp = g_altStack;
        alt.ss_size = kAltStackSize;
        sigaltstack(&alt, nullptr);
    }
    struct sigaction action
    { };
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &action, &g_previous[i]);
    g_installed = true;
    return true;
}

void FaultGuard::remove()
{
    if (!g_installed)
        return;
    for (size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed = false;
}

bool FaultGuard::isInstalled()
{
    return g_installed;
}

int FaultGuard::installCount()
{
    // Count the handlers that are ours, so that a double install would show.
    int ours = 0;
    for (int sig : kSignals) {
        struct sigaction current
        { };
        sigaction(sig, nullptr, &current);
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == onFault)
            ++ours;
    }
    return ours == static_cast<int>(kSignals.size()) ? 1 : 0;
}

} // namespace platform
