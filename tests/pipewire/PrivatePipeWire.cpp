#include "PrivatePipeWire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

bool waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

bool PrivatePipeWire::start(const QString &cameras, bool sessionManager)
{
    QStringList args {QStringLiteral("--cameras"), cameras};
    if (sessionManager)
        args << QStringLiteral("--session-manager");
    m_daemon.start(QStringLiteral(VEDEREVE_PIPEWIRE_SCRIPT), args);
    QByteArray output;
    waitUntil(
        [&] {
            output += m_daemon.readAllStandardOutput();
            return output.contains("READY\n") || m_daemon.state() == QProcess::NotRunning;
        },
        10000);
    if (!output.contains("READY\n")) {
        m_error = "the private PipeWire daemon did not start: "
            + QString::fromLocal8Bit(output + m_daemon.readAllStandardError());
        stop();
        return false;
    }
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("export ")) {
            const QList<QByteArray> assignment = line.mid(7).split('=');
            m_variables << assignment.first();
            qputenv(assignment.first().constData(), assignment.value(1));
        }
    }
    return true;
}

void PrivatePipeWire::stop()
{
    while (!m_cameras.empty())
        unplug(m_cameras.begin()->first);
    // The script stops its daemon on TERM and removes its runtime folder.
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000))
        m_daemon.kill();
    for (const QByteArray &name : std::exchange(m_variables, {}))
        qunsetenv(name.constData());
}

int PrivatePipeWire::connectedSocket() const
{
    const QByteArray path = qgetenv("PIPEWIRE_RUNTIME_DIR") + '/' + qgetenv("PIPEWIRE_REMOTE");
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

bool PrivatePipeWire::run(const QString &name, const QString &program, const QStringList &args)
{
    unplug(name);
    Camera &camera = m_cameras[name];
    camera.process = std::make_unique<QProcess>();
    camera.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    camera.process->start(program, args);
    if (!camera.process->waitForStarted(10000))
        m_error = "cannot start " + program;
    return m_error.isEmpty();
}

bool PrivatePipeWire::plug(const QString &name, const QString &kind, const QString &description,
                           const QString &size)
{
    return run(name, QStringLiteral(VEDEREVE_PIPEWIRE_SCRIPT),
               {QStringLiteral("source"), kind, name, description, size});
}

bool PrivatePipeWire::plugSlow(const QString &name, int delayMs, const QString &format,
                               const QString &v4l2Path)
{
    return run(name, QStringLiteral(VEDEREVE_SLOW_CAMERA),
               {name, name + " (slow)", QString::number(delayMs), format, v4l2Path})
        && waitUntil([&] { return said(name).contains("paused"); }, 10000);
}

void PrivatePipeWire::unplug(const QString &name)
{
    const auto it = m_cameras.find(name);
    if (it == m_cameras.end())
        return;
    it->second.process->terminate();
    if (!it->second.process->waitForFinished(3000))
        it->second.process->kill();
    m_cameras.erase(it);
}

QByteArray PrivatePipeWire::said(const QString &name)
{
    Camera &camera = m_cameras.at(name);
    return camera.said += camera.process->readAllStandardOutput();
}
