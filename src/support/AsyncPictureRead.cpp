#include "support/AsyncPictureRead.h"

#include <QCoreApplication>
#include <QUrl>

#include <memory>
#include <mutex>
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

void ReadPictureAsync(const QString &source, std::function<void(const QImage &)> done)
{
    // Nobody waits for the thread: the server's exit must never hang on a path a parent chose.
    std::thread([path = localPathOf(source), done = std::move(done), state = completions()] {
        std::optional<QImage> picture = platform::picture::loadFromFile(path);
        if (!picture)
            return;
        const std::lock_guard guard(state->lock);
        if (!state->open)
            return;
        // Posted to the application object, which outlives every requester.
        QMetaObject::invokeMethod(
            qApp, [done, image = std::move(*picture)] { done(image); }, Qt::QueuedConnection);
    }).detach();
}
