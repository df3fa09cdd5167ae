#include "platform/capture/PipeWirePortal.h"

#include "platform/capture/CaptureLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QVariantMap>

#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace platform::vfw {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kCamera = QStringLiteral("org.freedesktop.portal.Camera");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
// A plain call to the portal answers at once or never.
constexpr int kCallTimeoutMs = 5000;
// The person may be asked whether the component may use the cameras; past this, no answer.
constexpr int kAnswerTimeoutMs = 120000;

enum class Stage { Idle, Running, Finished };

struct PortalState
{
    std::mutex mutex;
    Stage stage = Stage::Idle;
    int fd = -1; // granted and not taken yet
};

PortalState &state()
{
    static PortalState instance;
    return instance;
}

void finish(int fd = -1)
{
    PortalState &s = state();
    std::lock_guard guard(s.mutex);
    s.stage = Stage::Finished;
    if (s.fd >= 0)
        ::close(s.fd);
    s.fd = fd;
}

} // namespace

// One request: is a camera there, access to the cameras (the person may be asked), then the
// daemon's descriptor. Lives in the application's thread, where the bus delivers its answers.
class PortalRequest final : public QObject
{
    Q_OBJECT

public:
    PortalRequest() : m_bus(QDBusConnection::sessionBus()) { }

    void start()
    {
        if (!m_bus.isConnected())
            return fail("no session bus");
        QDBusMessage present = QDBusMessage::createMethodCall(
            kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        present << kCamera << QStringLiteral("IsCameraPresent");
        watch(m_bus.asyncCall(present, kCallTimeoutMs), [this](const QDBusMessage &reply) {
            // No camera: nothing to ask the person about.
            const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
            if (!value.toBool())
                return fail("no camera behind the portal");
            requestAccess();
        });
    }

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap &)
    {
        m_timeout.stop();
        if (response != 0)
            return fail("camera access refused");
        QDBusMessage open = QDBusMessage::createMethodCall(kService, kPath, kCamera,
                                                           QStringLiteral("OpenPipeWireRemote"));
        open << QVariantMap();
        watch(m_bus.asyncCall(open, kCallTimeoutMs), [this](const QDBusMessage &reply) {
            const auto descriptor = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
            const int fd = descriptor.isValid()
                ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3)
                : -1;
            if (fd < 0)
                return fail("no descriptor from the portal");
            qCInfo(lcCapture, "camera access granted through the portal");
            finish(fd);
            deleteLater();
        });
    }

private:
    template<class Then> void watch(const QDBusPendingCall &call, Then then)
    {
        auto *watcher = new QDBusPendingCallWatcher(call, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, then](QDBusPendingCallWatcher *w) {
                    w->deleteLater();
                    if (w->isError())
                        return fail(w->error().message());
                    then(w->reply());
                });
    }

    void requestAccess()
    {
        // The request's object path is known before the call, so that its answer cannot come
        // before we listen for it.
        const QString token
            = QStringLiteral("vedereve%1").arg(QRandomGenerator::global()->generate());
        QString sender = m_bus.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString handle
            = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
        if (!m_bus.connect(kService, handle, kRequest, QStringLiteral("Response"), this,
                           SLOT(onResponse(uint, QVariantMap))))
            return fail("cannot listen for the portal's answer");
        QDBusMessage access = QDBusMessage::createMethodCall(kService, kPath, kCamera,
                                                             QStringLiteral("AccessCamera"));
        access << QVariantMap {{QStringLiteral("handle_token"), token}};
        watch(m_bus.asyncCall(access, kCallTimeoutMs), [](const QDBusMessage &) {});
        m_timeout.setSingleShot(true);
        connect(&m_timeout, &QTimer::timeout, this, [this] { fail("no answer from the portal"); });
        m_timeout.start(kAnswerTimeoutMs);
    }

    void fail(const QString &why)
    {
        qCDebug(lcCapture, "no cameras through the portal: %s", qPrintable(why));
        finish();
        deleteLater();
    }

    QDBusConnection m_bus;
    QTimer m_timeout;
};

void requestPortalDescriptor()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    {
        PortalState &s = state();
        std::lock_guard guard(s.mutex);
        if (s.stage != Stage::Idle)
            return;
        s.stage = Stage::Running;
    }
    // Started in the application's thread, whichever thread lists the cameras.
    QMetaObject::invokeMethod(
        app,
        [] {
            auto *request = new PortalRequest;
            request->start();
        },
        Qt::QueuedConnection);
}

int takePortalDescriptor()
{
    PortalState &s = state();
    std::lock_guard guard(s.mutex);
    return std::exchange(s.fd, -1);
}

bool portalDescriptorWaiting()
{
    PortalState &s = state();
    std::lock_guard guard(s.mutex);
    return s.fd >= 0;
}

} // namespace platform::vfw

#include "PipeWirePortal.moc"
