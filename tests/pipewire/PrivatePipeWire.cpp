#include "PrivatePipeWire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {
constexpr int kStartMs = 10000;
} // namespace

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
    m_daemon.setProgram(QStringLiteral(VEDEREVE_PIPEWIRE_SCRIPT));
    QStringList args {QStringLiteral("--cameras"), cameras};
    if (sessionManager)
        args << QStringLiteral("--session-manager");
    m_daemon.setArguments(args);
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start();
    QByteArray output;
    const bool ready = waitUntil(
        [&] {
            output += m_daemon.readAllStandardOutput();
            return output.contains("READY\n") || m_daemon.state() == QProcess::NotRunning;
        },
        kStartMs);
    if (!ready || !output.contains("READY\n")) {
        m_error = QStringLiteral("the private PipeWire daemon did not start: ")
            + QString::fromLocal8Bit(output + m_daemon.readAllStandardError());
        stop();
        return false;
    }
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("export "))
            continue;
        const QList<QByteArray> assignment = line.mid(7).split('=');
        m_variables << assignment.first();
        qputenv(assignment.first().constData(), assignment.value(1));
    }
    return true;
}

void PrivatePipeWire::stop()
{
    while (!m_cameras.empty())
        unplug(m_cameras.begin()->first);
    if (m_daemon.state() != QProcess::NotRunning) {
        // The script stops its daemon and cameras on TERM and removes its runtime folder.
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
    }
    for (const QByteArray &name : std::exchange(m_variables, {}))
        qunsetenv(name.constData());
}

int PrivatePipeWire::connectedSocket() const
{
    const QByteArray path = qgetenv("PIPEWIRE_RUNTIME_DIR") + '/' + qgetenv("PIPEWIRE_REMOTE");
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (std::size_t(path.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool PrivatePipeWire::startCamera(const QString &name, const QString &program,
                                  const QStringList &args)
{
    unplug(name);
    auto camera = std::make_unique<QProcess>();
    camera->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    camera->start(program, args);
    if (!camera->waitForStarted(kStartMs)) {
        m_error = QStringLiteral("cannot start ") + program;
        return false;
    }
    m_cameras[name] = {std::move(camera), {}};
    return true;
}

bool PrivatePipeWire::plug(const QString &name, const QString &kind, const QString &description,
                           const QString &size)
{
    return startCamera(name, QStringLiteral(VEDEREVE_PIPEWIRE_SCRIPT),
                       {QStringLiteral("source"), kind, name, description, size});
}

bool PrivatePipeWire::plugSlow(const QString &name, const QString &description, int delayMs,
                               const QString &format, const QString &v4l2Path)
{
    QStringList args {name, description, QString::number(delayMs), format};
    if (!v4l2Path.isEmpty())
        args << v4l2Path;
    // Registered once it says so.
    return startCamera(name, QStringLiteral(VEDEREVE_SLOW_CAMERA), args)
        && waitUntil([&] { return said(name).contains("paused"); }, kStartMs);
}

void PrivatePipeWire::stall(const QString &name, bool stalled)
{
    if (const auto it = m_cameras.find(name); it != m_cameras.end())
        it->second.process->write(stalled ? "stall\n" : "resume\n");
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
    const auto it = m_cameras.find(name);
    return it == m_cameras.end() ? QByteArray()
                                 : (it->second.said += it->second.process->readAllStandardOutput());
}
