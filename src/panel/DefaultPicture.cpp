#include <QCoreApplication>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <mutex>
#include <thread>

#include "panel/cveDerEve.h"
#include "platform/picture/PictureLoader.h"

namespace {

QString localPathOf(const QString &value)
{
    const QUrl url(value, QUrl::StrictMode);
    if (url.isValid() && url.isLocalFile())
        return url.toLocalFile();
    return value;
}

// Whether the application can still take a completion. A read may outlive every panel and even
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

void cveDerEve::WebCamDefaultPic(const QString &NewValue)
{
    // The read runs on a thread of its own that nobody waits for: the server's exit must never
    // hang on a path the parent chose. Only regular files are read, without blocking, up to
    // maxFileBytes; a read that fails never completes, so picStopCam keeps its picture. Paths and
    // file URLs are read; the component fetches nothing over the network.
    const QString path = localPathOf(NewValue);
    const std::uint64_t generation = ++m_asyncReadGeneration;
    QPointer<cveDerEve> self(this);
    std::thread([self, path, generation, done = completions()] {
        std::optional<QImage> picture = platform::picture::loadFromFile(path);
        if (!picture)
            return;
        const std::lock_guard guard(done->lock);
        if (!done->open)
            return;
        // Completion is posted to the application object, which outlives every panel; the panel
        // itself is only looked at back on its own thread.
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, image = std::move(*picture)] {
                // Only the latest request completes: an older, slower read must not win.
                cveDerEve *panel = self.data();
                if (panel == nullptr || generation != panel->m_asyncReadGeneration)
                    return;
                panel->UserControl_AsyncReadComplete(QStringLiteral("DefaultWebCamPic"), image);
            },
            Qt::QueuedConnection);
    }).detach();
}
