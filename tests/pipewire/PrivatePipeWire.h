#pragma once

#include "platform/capture/Drivers.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/fake/FakeV4l2.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

// Serves Qt events until predicate holds or timeoutMs passed.
inline bool waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    for (const QDeadlineTimer deadline(timeoutMs); !predicate(); QThread::msleep(5)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The driver index of the present camera whose identity ends in identity; -1 otherwise.
inline int indexOf(const std::string &identity)
{
    const std::vector<platform::vfw::DriverEntry> drivers = platform::vfw::captureDrivers();
    for (std::size_t i = 0; i < drivers.size(); ++i)
        if (drivers[i].identity.ends_with(identity))
            return drivers[i].present ? int(i) : -1;
    return -1;
}

// A private PipeWire daemon (scripts/pipewire-test-cameras.sh) whose environment this process
// takes while it runs, and cameras plugged and unplugged at will. Waits are bounded; a missing
// daemon is a failure, not a skip.
class PrivatePipeWire final
{
public:
    // cameras: "none" or a comma-separated list of yuy2 and mjpg (GStreamer colour bars); the
    // daemon has its own "Test Pattern Camera" too.
    bool start(const QString &cameras = QStringLiteral("none"), bool sessionManager = false)
    {
        // A test that crashes leaves no camera or daemon running (and holding its output open).
        m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_daemon.start(
            QStringLiteral(VEDEREVE_PIPEWIRE_SCRIPT),
            {QStringLiteral("--cameras"), cameras,
             sessionManager ? QStringLiteral("--session-manager") : QStringLiteral("--")});
        QByteArray out;
        waitUntil(
            [&] {
                return (out += m_daemon.readAllStandardOutput()).contains("READY\n")
                    || m_daemon.state() == QProcess::NotRunning;
            },
            10000);
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("export ")) {
                m_variables << line.mid(7, line.indexOf('=') - 7);
                qputenv(m_variables.back().constData(), line.mid(line.indexOf('=') + 1));
            }
        }
        if (!out.contains("READY\n"))
            m_error = "the private PipeWire daemon did not start: "
                + QString::fromLocal8Bit(out + m_daemon.readAllStandardError());
        return m_error.isEmpty();
    }
    // The component leaves the daemon first.
    ~PrivatePipeWire()
    {
        platform::vfw::setPipeWireConnection({platform::vfw::PipeWireConnection::Mode::Off});
        while (!m_cameras.empty())
            unplug(m_cameras.begin()->first);
        m_daemon.terminate(); // the script stops its daemon and removes its runtime folder
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
        for (const QByteArray &name : std::exchange(m_variables, {}))
            qunsetenv(name.constData());
    }
    const QString &error() const { return m_error; }
    // A socket connected to the daemon, as the portal hands out; -1 on failure.
    int connectedSocket() const
    {
        const QByteArray path = qgetenv("PIPEWIRE_RUNTIME_DIR") + '/' + qgetenv("PIPEWIRE_REMOTE");
        sockaddr_un address {AF_UNIX, {}};
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return fd;
        ::close(fd);
        return -1;
    }
    // A GStreamer camera of kind yuy2 or mjpg.
    bool plug(const QString &name, const QString &kind, const QString &description,
              const QString &size)
    {
        return run(name, QStringLiteral(VEDEREVE_PIPEWIRE_SCRIPT),
                   {QStringLiteral("source"), kind, name, description, size});
    }
    // The slow camera (tests/pipewire/SlowCamera.cpp), described as "<name> (slow)"; registered
    // when this returns, and listed unless it serves a Video4Linux device (listed as that device).
    bool plugSlow(const QString &name, int delayMs, const QString &v4l2Path = {})
    {
        return run(name, QStringLiteral(VEDEREVE_SLOW_CAMERA),
                   {name, name + " (slow)", QString::number(delayMs), v4l2Path})
            && waitUntil([&] { return said(name).contains("paused"); }, 10000)
            && (!v4l2Path.isEmpty()
                || waitUntil([&] { return indexOf(name.toStdString()) >= 0; }, 3000));
    }
    void stall(const QString &name, bool stalled)
    {
        m_cameras[name].process->write(stalled ? "stall\n" : "resume\n");
    }
    void unplug(const QString &name)
    {
        if (const auto it = m_cameras.find(name); it != m_cameras.end()) {
            it->second.process->terminate();
            if (!it->second.process->waitForFinished(3000))
                it->second.process->kill();
            m_cameras.erase(it);
        }
    }
    // What the slow camera printed so far ("paused", "first").
    QByteArray said(const QString &name)
    {
        Camera &camera = m_cameras.at(name);
        return camera.said += camera.process->readAllStandardOutput();
    }

private:
    bool run(const QString &name, const QString &program, const QStringList &args)
    {
        unplug(name);
        Camera &camera = m_cameras[name];
        camera.process = std::make_unique<QProcess>();
        camera.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        camera.process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        camera.process->start(program, args);
        if (!camera.process->waitForStarted(10000))
            m_error = "cannot start " + program;
        return m_error.isEmpty();
    }

    struct Camera
    {
        std::unique_ptr<QProcess> process;
        QByteArray said;
    };
    QProcess m_daemon;
    QString m_error;
    QList<QByteArray> m_variables;
    std::map<QString, Camera> m_cameras;
};

// Colour classes of the pictures: the bars left to right, the quadrants in reading order.
constexpr const char *kBars = "WYCGMRB";
constexpr const char *kQuadrants = "RGBW";
inline char colourClass(int r, int g, int b)
{
    return "KBGCRMYW"[(r > 128) * 4 + (g > 128) * 2 + (b > 128)];
}

// One daemon with the yuy2 and mjpg cameras per suite; the component reconnects to it in each
// test and leaves it before it goes. The machine's Video4Linux cameras are left out.
template<class Base = ::testing::Test, bool sessionManager = false> class WithPipeWire : public Base
{
protected:
    static void SetUpTestSuite()
    {
        s_pipeWire = std::make_unique<PrivatePipeWire>();
        s_pipeWire->start(QStringLiteral("yuy2,mjpg"), sessionManager);
    }
    static void TearDownTestSuite() { s_pipeWire.reset(); }
    void SetUp() override
    {
        Base::SetUp();
        ASSERT_TRUE(s_pipeWire->error().isEmpty()) << s_pipeWire->error().toStdString();
        platform::vfw::setPipeWireConnection({}); // test bases may have switched it off
        platform::vfw::setV4l2Io(std::make_shared<platform::vfw::fake::FakeV4l2Io>());
    }
    void TearDown() override
    {
        Base::TearDown();
        platform::vfw::setV4l2Io(nullptr);
    }
    static PrivatePipeWire &pipeWire() { return *s_pipeWire; }

private:
    static inline std::unique_ptr<PrivatePipeWire> s_pipeWire;
};
