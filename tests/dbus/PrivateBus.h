#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A private session bus for one test; services activated from servicesDir get the environment.
class PrivateBus final
{
public:
    ~PrivateBus();

    bool start(const QString &servicesDir = {},
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    const QString &address() const { return m_address; }

    // A new connection of its own to the bus; each call gives a distinct unique name.
    QDBusConnection connect(const QString &name);

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};
