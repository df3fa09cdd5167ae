#include "automation/dbus/ClassFactory.h"

#include "automation/dbus/ObjectAdaptor.h"
#include "automation/zozEZUdeZid.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <QThread>

Q_LOGGING_CATEGORY(lcBusFactory, "vedereve.dbus.factory")

namespace bus {

struct ClassFactory::Entry
{
    QString path;
    QString creator;
    std::unique_ptr<zozEZUdeZid> object;
    std::unique_ptr<ObjectAdaptor> adaptor;
    bool ending = false;
};

namespace {
// How often a pending end is retried while the component is inside a nested event loop.
constexpr int kReapRetryMs = 20;
} // namespace

ClassFactory::ClassFactory(QDBusConnection connection, ServerOptions options, QObject *parent)
    : QObject(parent), m_connection(std::move(connection)), m_options(options),
      m_creatorWatcher(new QDBusServiceWatcher(this))
{
    m_creatorWatcher->setConnection(m_connection);
    m_creatorWatcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_creatorWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
            &ClassFactory::endObjectsOf);

    m_reapTimer.setSingleShot(true);
    connect(&m_reapTimer, &QTimer::timeout, this, &ClassFactory::reap);

    m_exitTimer.setSingleShot(true);
    connect(&m_exitTimer, &QTimer::timeout, this, [this] {
        if (m_objects.empty())
            Q_EMIT idle();
    });
    // A server that was started but never asked for an object goes away again.
    m_exitTimer.start(m_options.startGraceMs);
}

ClassFactory::~ClassFactory()
{
    m_connection.unregisterObject(QLatin1StringView(kFactoryPath));
    for (const std::unique_ptr<Entry> &entry : m_objects) {
        m_connection.unregisterObject(entry->path);
        destroy(*entry);
    }
    m_objects.clear();
}

bool ClassFactory::registerFactory()
{
    return m_connection.registerObject(QLatin1StringView(kFactoryPath), this,
                                       QDBusConnection::ExportScriptableSlots);
}

zozEZUdeZid *ClassFactory::object(const QString &path) const
{
    Entry *entry = find(path);
    return entry && !entry->ending ? entry->object.get() : nullptr;
}

ObjectAdaptor *ClassFactory::adaptor(const QString &path) const
{
    Entry *entry = find(path);
    return entry && !entry->ending ? entry->adaptor.get() : nullptr;
}

ClassFactory::Entry *ClassFactory::find(const QString &path) const
{
    for (const std::unique_ptr<Entry> &entry : m_objects) {
        if (entry->path == path)
            return entry.get();
    }
    return nullptr;
}

QDBusObjectPath ClassFactory::CreateInstance()
{
    const QString creator = calledFromDBus() ? message().service() : QString();
    auto entry = std::make_unique<Entry>();
    entry->path
        = QStringLiteral("%1/%2").arg(QLatin1StringView(kObjectPathPrefix)).arg(m_nextNumber++);
    entry->creator = creator;
    // Class_Initialize runs here; the object guards its own steps.
    entry->object = std::make_unique<zozEZUdeZid>();
    entry->adaptor = std::make_unique<ObjectAdaptor>(*entry->object, m_connection, entry->path,
                                                     m_options.eventTimeoutMs);
    if (!m_connection.registerVirtualObject(entry->path, entry->adaptor.get(),
                                            QDBusConnection::SingleNode)) {
        qCWarning(lcBusFactory) << "cannot export" << entry->path;
        destroy(*entry);
        if (calledFromDBus())
            sendErrorReply(QDBusError::Failed, QStringLiteral("The object could not be exported"));
        return {};
    }
    m_exitTimer.stop();
    const QDBusObjectPath path(entry->path);
    m_objects.push_back(std::move(entry));

    if (!creator.isEmpty()) {
        m_creatorWatcher->addWatchedService(creator);
        // The creator may have left before the watch was in place; the bus answers in order, so
        // asking after adding the watch closes that gap.
        if (!m_connection.interface()->isServiceRegistered(creator).value())
            endObjectsOf(creator);
    }
    return path;
}

void ClassFactory::Release(const QDBusObjectPath &object)
{
    Entry *entry = find(object.path());
    if (!entry || entry->ending) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::UnknownObject,
                           QStringLiteral("No object %1").arg(object.path()));
        return;
    }
    // Only the creator holds the reference; anybody else releasing it would end a parent's
    // object under its feet.
    if (calledFromDBus() && message().service() != entry->creator) {
        sendErrorReply(QDBusError::AccessDenied,
                       QStringLiteral("%1 belongs to another connection").arg(object.path()));
        return;
    }
    endObject(*entry);
}

void ClassFactory::endObjectsOf(const QString &creator)
{
    for (const std::unique_ptr<Entry> &entry : m_objects) {
        if (entry->creator == creator && !entry->ending)
            endObject(*entry);
    }
    m_creatorWatcher->removeWatchedService(creator);
}

void ClassFactory::endObject(Entry &entry)
{
    // From now on the object takes no calls and sends no events; it is destroyed as soon as
    // nothing of it is on the stack.
    entry.ending = true;
    m_connection.unregisterObject(entry.path);
    entry.adaptor->detach();
    m_reapTimer.start(0);
}

void ClassFactory::reap()
{
    // Destroying an object while one of its calls or events is still on the stack (we may be in
    // the nested loop of an event wait) would pull the panel out from under it: wait until the
    // process is back in its main loop.
    if (ObjectAdaptor::activeSteps() > 0 || QThread::currentThread()->loopLevel() > 1) {
        m_reapTimer.start(kReapRetryMs);
        return;
    }
    std::vector<std::unique_ptr<Entry>> ended;
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if ((*it)->ending) {
            ended.push_back(std::move(*it));
            it = m_objects.erase(it);
        } else {
            ++it;
        }
    }
    for (const std::unique_ptr<Entry> &entry : ended)
        destroy(*entry);
    if (m_objects.empty() && !ended.empty())
        m_exitTimer.start(m_options.exitDelayMs);
}

void ClassFactory::destroy(Entry &entry)
{
    entry.adaptor.reset();
    // Class_Terminate runs here.
    entry.object.reset();
}

} // namespace bus
