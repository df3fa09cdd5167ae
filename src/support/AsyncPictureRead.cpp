#include "support/AsyncPictureRead.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/picture/PictureLoader.h"

namespace {

QString localPathOf(const QString &value)
{
    const QUrl url(value, QUrl::StrictMode);
    if (url.isValid() && url.isLocalFile())
        return url.toLocalFile();
    return value;
}

// Whether the application can still take a completion. A read may outlive its requester and even
// the application object (a file on a hung network mount keeps its thread in open()), so the
// thread asks here before it posts anything.
struct Completions
{
    std::mutex lock;
    bool open = true;
};

std::shared_ptr<Completions> completions()
{
    static const std::shared_ptr<Completions> shared = [] {
        auto state = std::make_shared<Completions>();
        // Runs while the application object still exists, before its destructor.
        qAddPostRoutine([] {
            const std::lock_guard guard(completions()->lock);
            completions()->open = false;
        });
        return state;
    }();
    return shared;
}

} // namespace

// Shared by the reader and its thread, which may outlive it.
struct AsyncPictureReader::State
{
    std::mutex lock;
    std::function<void(const QImage &)> done; // cleared when the reader goes
    bool reading = false;
    std::optional<QString> waiting;
    std::uint64_t latest = 0; // the newest request; only its picture is handed on
    std::shared_ptr<Completions> app = completions();

    // The thread: reads path, then whatever request waits, until none does.
    static void run(std::shared_ptr<State> state, QString path, std::uint64_t request)
    {
        for (;;) {
            std::optional<QImage> picture = platform::picture::loadFromFile(path);
            const std::lock_guard guard(state->lock);
            if (picture && request == state->latest)
                state->post(std::move(*picture), request);
            if (!state->waiting) {
                state->reading = false;
                return;
            }
            path = *std::exchange(state->waiting, std::nullopt);
            request = state->latest;
        }
    }

    // Requires the lock.
    void post(QImage picture, std::uint64_t request)
    {
        const std::lock_guard appGuard(app->lock);
        if (!app->open)
            return;
        // Posted to the application object, which outlives every requester; the reader may be
        // gone, or have a newer request, by the time it runs.
        QMetaObject::invokeMethod(
            qApp,
            [self = weak(), picture = std::move(picture), request] {
                const std::shared_ptr<State> state = self.lock();
                std::function<void(const QImage &)> handOver;
                if (state) {
                    const std::lock_guard guard(state->lock);
                    if (request == state->latest)
                        handOver = state->done;
                }
                if (handOver)
                    handOver(picture);
            },
            Qt::QueuedConnection);
    }

    std::weak_ptr<State> weak() { return m_self; }
    std::weak_ptr<State> m_self;
};

AsyncPictureReader::AsyncPictureReader(std::function<void(const QImage &)> done)
    : m_state(std::make_shared<State>())
{
    m_state->done = std::move(done);
    m_state->m_self = m_state;
}

AsyncPictureReader::~AsyncPictureReader()
{
    const std::lock_guard guard(m_state->lock);
    m_state->done = nullptr;
    m_state->waiting.reset();
}

void AsyncPictureReader::read(const QString &source)
{
    std::unique_lock guard(m_state->lock);
    const std::uint64_t request = ++m_state->latest;
    if (m_state->reading) {
        m_state->waiting = localPathOf(source);
        return;
    }
    m_state->reading = true;
    guard.unlock();
    // Nobody waits for the thread: the server's exit must never hang on a path a parent chose.
    std::thread(&State::run, m_state, localPathOf(source), request).detach();
}

bool AsyncPictureReader::busy() const
{
    const std::lock_guard guard(m_state->lock);
    return m_state->reading;
}
