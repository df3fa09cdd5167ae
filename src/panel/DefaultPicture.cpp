#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QThreadPool>
#include <QUrl>

#include "panel/cveDerEve.h"
#include "platform/picture/PictureLoader.h"

namespace {
// A default picture larger than this is not read.
constexpr qint64 kMaxPictureFileBytes = 32 * 1024 * 1024;

QString localPathOf(const QString &value)
{
    const QUrl url(value, QUrl::StrictMode);
    if (url.isValid() && url.isLocalFile())
        return url.toLocalFile();
    return value;
}
} // namespace

void cveDerEve::WebCamDefaultPic(const QString &NewValue)
{
    // The read runs on a worker thread; only the finished picture comes back to this thread.
    // A read that fails never completes, so picStopCam keeps its picture. Paths and file URLs
    // are read; the component fetches nothing over the network.
    const QString path = localPathOf(NewValue);
    const std::uint64_t generation = ++m_asyncReadGeneration;
    QPointer<cveDerEve> self(this);
    QThreadPool::globalInstance()->start([self, path, generation] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() <= 0
            || file.size() > kMaxPictureFileBytes)
            return;
        const QByteArray bytes = file.read(kMaxPictureFileBytes);
        std::optional<QImage> picture = platform::picture::loadFromBytes(
            reinterpret_cast<const std::uint8_t *>(bytes.constData()),
            static_cast<std::size_t>(bytes.size()));
        if (!picture)
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
    });
}
