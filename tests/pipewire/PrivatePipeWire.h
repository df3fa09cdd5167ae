#pragma once

#include "platform/capture/PipeWireSource.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// A private PipeWire daemon with test cameras (scripts/pipewire-test-cameras.sh), its
// environment put into this process while it runs, so that the component finds it the way it
// finds a desktop's daemon. Cameras can be plugged and unplugged: GStreamer ones (yuy2, mjpg,
// showing colour bars) and the tests' own slow camera (four coloured quadrants). Every wait is
// bounded. A missing daemon binary is a failure, not a skip: CI installs it.
class PrivatePipeWire final
{
public:
    PrivatePipeWire() = default;
    ~PrivatePipeWire() { stop(); }
    PrivatePipeWire(const PrivatePipeWire &) = delete;
    PrivatePipeWire &operator=(const PrivatePipeWire &) = delete;

    // Cameras: "none", or a comma-separated list of yuy2 and mjpg. The daemon always has its
    // own test-pattern camera ("Test Pattern Camera"). With a session manager, which links the
    // streams of clients that may not link themselves (the portal's). On failure, error() says
    // why.
    bool start(const QString &cameras = QStringLiteral("none"), bool sessionManager = false);
    void stop();
    const QString &error() const { return m_error; }
    // This process's environment with the daemon's; for processes the test starts.
    QProcessEnvironment environment() const;
    // A connected socket to the daemon, as the portal hands out; -1 on failure. The caller owns it.
    int connectedSocket() const;

    // Plugging: a GStreamer camera of kind yuy2 or mjpg, or the slow camera that sends its
    // first frame delayMs after each start, in format yuy2 or bgr, optionally as the node of a
    // Video4Linux device. name is its node.name.
    bool plug(const QString &name, const QString &kind, const QString &description,
              const QString &size = QStringLiteral("320x240"));
    bool plugSlow(const QString &name, const QString &description, int delayMs,
                  const QString &format = QStringLiteral("yuy2"), const QString &v4l2Path = {});
    // Stops the slow camera's frames, or lets them go on.
    void stall(const QString &name, bool stalled);
    void unplug(const QString &name);
    // What the slow camera printed so far ("paused", "first", ...).
    QByteArray said(const QString &name);

private:
    bool startCamera(const QString &name, const QString &program, const QStringList &args);

    QProcess m_daemon;
    QString m_error;
    std::map<QByteArray, std::optional<QByteArray>> m_savedEnvironment;
    std::map<QString, std::unique_ptr<QProcess>> m_cameras;
    std::map<QString, QByteArray> m_said;
};

// Runs until predicate holds or timeoutMs passed, serving Qt events meanwhile.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs);

// Starts the suite's daemon with the yuy2 and mjpg GStreamer cameras plugged and points the
// component at it; stops both.
void startSuiteDaemon(std::unique_ptr<PrivatePipeWire> &pipeWire, bool sessionManager);
void stopSuiteDaemon(std::unique_ptr<PrivatePipeWire> &pipeWire);

// One daemon per test suite, over any test base class; the component drops its PipeWire session
// before and after, so that it connects to this daemon and leaves it before it goes.
template<class Base = ::testing::Test, bool sessionManager = false> class WithPipeWire : public Base
{
protected:
    static void SetUpTestSuite() { startSuiteDaemon(s_pipeWire, sessionManager); }
    static void TearDownTestSuite() { stopSuiteDaemon(s_pipeWire); }
    void SetUp() override
    {
        Base::SetUp();
        ASSERT_TRUE(s_pipeWire->error().isEmpty()) << s_pipeWire->error().toStdString();
        // Test bases may have switched PipeWire off.
        platform::vfw::setPipeWireConnection({});
    }
    static PrivatePipeWire &pipeWire() { return *s_pipeWire; }

private:
    static inline std::unique_ptr<PrivatePipeWire> s_pipeWire;
};
