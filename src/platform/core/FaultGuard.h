#pragma once

#include <csetjmp>
#include <cstdint>
#include <mutex>
#include <utility>

namespace platform {

// Windows-style exception code for a fault signal (SIGSEGV gives 0xC0000005, an access
// violation). Unknown combinations give 0xC0000005 for SIGSEGV/SIGBUS and the generic code of the
// signal otherwise.
std::uint32_t windowsExceptionCode(int signal, int signalCode);

// Turns SIGSEGV, SIGBUS, SIGFPE and SIGILL raised inside a guarded step into a skipped step.
// The handlers run on an alternate stack. A fault outside any guard, or while the handlers are
// not installed, ends the process as it would without them.
class FaultGuard
{
public:
    // Installs the handlers. Returns false (and changes nothing) when they are already installed.
    static bool install();
    // Restores the actions that were in force before install(). Harmless when not installed.
    static void remove();
    static bool isInstalled();
    // Number of installs that have not been removed yet: 0 or 1.
    static int installCount();

    // Runs step(); returns true when it completed, false when a fault abandoned it. On a fault,
    // code receives the Windows-style exception code. Objects with destructors that live inside
    // the abandoned step are not destroyed: the step's own stack frames are dropped whole.
    template<class Step> static bool run(Step &&step, std::uint32_t *code = nullptr)
    {
        Frame frame;
        if (sigsetjmp(frame.env, 1) != 0) {
            // The step's frames were dropped: whatever lock it took is released here, and what
            // it asked to have done on such a way out is done.
            runAbandonActions(frame.depth);
            frame.leave();
            if (code)
                *code = frame.code;
            return false;
        }
        std::forward<Step>(step)();
        frame.leave();
        return true;
    }

    struct Frame
    {
        Frame();
        ~Frame() { leave(); }
        Frame(const Frame &) = delete;
        Frame &operator=(const Frame &) = delete;
        void leave();

        sigjmp_buf env;
        std::uint32_t code = 0;
        Frame *outer = nullptr;
        int depth = 0;
        bool active = true;
    };

    // Hides the guards around it while it lives: a fault inside its scope that no inner guard
    // takes ends the process, as one outside every guard does. Put one around a nested event
    // loop: jumping out of a loop drops the frames of the toolkit and the bus library that run
    // it, and leaves their counters and locks behind.
    class Barrier
    {
    public:
        Barrier();
        ~Barrier();
        Barrier(const Barrier &) = delete;
        Barrier &operator=(const Barrier &) = delete;

    private:
        Frame *m_hidden;
    };

    // Runs action(context) when a fault abandons the guarded step this object lives in, and
    // nothing when the object goes out of scope normally: for what a step must give back
    // whichever way it ends (a lock shared with other processes, a timer the step switched off).
    // Actions run innermost first, after the jump and before run() returns, so they may take
    // locks and allocate. Without a guard around it the object does nothing.
    class OnAbandon
    {
    public:
        using Action = void (*)(void *context);
        OnAbandon(Action action, void *context);
        ~OnAbandon();
        OnAbandon(const OnAbandon &) = delete;
        OnAbandon &operator=(const OnAbandon &) = delete;
    };

private:
    friend class JumpSafeMutex;
    static void runAbandonActions(int depth);
};

// A mutex for code that may run inside a guarded step: when a fault abandons the step that holds
// it, the guard releases it, so that the next user does not wait for ever on a holder that no
// longer exists. Meets the Lockable requirements (lock, unlock, try_lock).
class JumpSafeMutex
{
public:
    void lock();
    bool try_lock();
    void unlock();

private:
    friend class FaultGuard;
    void noteHeld();
    std::mutex m_mutex;
};

} // namespace platform
