#pragma once

#include "automation/dbus/BusNames.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QDBusServiceWatcher;
class zozEZUdeZid;

namespace bus {

class ObjectAdaptor;

struct ServerOptions
{
    int eventTimeoutMs = kDefaultEventTimeoutMs;
    int exitDelayMs = kDefaultExitDelayMs;
    int startGraceMs = kDefaultStartGraceMs;
};

// The class factory and the objects' lifetime. An object ends when its creator releases it or
// when the creator's connection leaves the bus; idle() tells the host to end the process.
class ClassFactory final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.zedazido.VEDerEve.ClassFactory")
public:
    explicit ClassFactory(QDBusConnection connection, ServerOptions options = {},
                          QObject *parent = nullptr);
    // Ends the objects that are left.
    ~ClassFactory() override;

    // Exports the factory at its fixed path. Returns false when the path is taken.
    bool registerFactory();

    // Objects that exist (including those that are ending but not destroyed yet).
    int objectCount() const { return int(m_objects.size()); }
    // The in-process object behind a path, for hosts and tests; nullptr once it is ending.
    zozEZUdeZid *object(const QString &path) const;
    ObjectAdaptor *adaptor(const QString &path) const;

public Q_SLOTS:
    Q_SCRIPTABLE QDBusObjectPath CreateInstance();
    Q_SCRIPTABLE void Release(const QDBusObjectPath &object);

Q_SIGNALS:
    // No object exists and none has for the exit delay (or the start grace period).
    void idle();

private:
    struct Entry;

    Entry *find(const QString &path) const;
    void endObject(Entry &entry);
    void endObjectsOf(const QString &creator);
    void reap();
    void destroy(Entry &entry);

    QDBusConnection m_connection;
    ServerOptions m_options;
    std::vector<std::unique_ptr<Entry>> m_objects;
    QDBusServiceWatcher *m_creatorWatcher;
    QTimer m_exitTimer;
    QTimer m_reapTimer;
    int m_nextNumber = 1;
};

} // namespace bus
