#include "PrivateBus.h"

PrivateBus::~PrivateBus()
{
    for (const QString &name : m_connections)
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000))
            m_daemon.kill();
        m_daemon.waitForFinished(3000);
    }
}

bool PrivateBus::start(const QString &servicesDir, const QProcessEnvironment &environment)
{
    // The configuration the demo runs on; the folder of the file doubles as an empty services one.
    const QString config = m_dir.filePath("bus.conf");
    QProcess script;
    script.setStandardOutputFile(config);
    script.start(VEDEREVE_BUS_CONFIG_SCRIPT, {servicesDir.isEmpty() ? m_dir.path() : servicesDir});
    if (!m_dir.isValid() || !script.waitForFinished(5000) || script.exitCode() != 0)
        return false;

    m_daemon.setProcessEnvironment(environment);
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start("dbus-daemon", {"--nofork", "--print-address", "--config-file=" + config});
    if (!m_daemon.waitForStarted(5000))
        return false;
    while (!m_daemon.canReadLine())
        if (!m_daemon.waitForReadyRead(5000))
            return false;
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    return !m_address.isEmpty();
}

QDBusConnection PrivateBus::connect(const QString &name)
{
    m_connections << name;
    return QDBusConnection::connectToBus(m_address, name);
}
