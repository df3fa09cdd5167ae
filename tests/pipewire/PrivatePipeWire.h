#pragma once

#include "platform/capture/Drivers.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/fake/FakeV4l2.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <functional>
#include <map>
#include <memory>

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

    struct Camera
    {
        std::unique_ptr<QProcess> process;
        QByteArray said;
    };
    QProcess m_daemon;
    QString m_error;
    QList<QByteArray> m_variables; // set from the daemon's, unset when it stops
    std::map<QString, Camera> m_cameras;
};

// The test cameras' pictures by colour class: the GStreamer cameras' bars, left to right across
// the upper part, and the slow camera's quadrants (top left, top right, bottom left, bottom right).
constexpr const char *kBars = "WYCGMRB";
constexpr const char *kQuadrants = "RGBW";
// White, yellow, cyan, green, magenta, red, blue or black, by which channels are bright.
inline char colourClass(int r, int g, int b)
{
    return "KBGCRMYW"[(r > 128) * 4 + (g > 128) * 2 + (b > 128)];
}

// Runs until predicate holds or timeoutMs passed, serving Qt events meanwhile.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs);

// One daemon per test suite, with the yuy2 and mjpg GStreamer cameras, over any test base
// class; the component drops its PipeWire session before and after, so that it connects to this
// daemon and leaves it before it goes. The machine's Video4Linux cameras are left out.
template<class Base = ::testing::Test, bool sessionManager = false> class WithPipeWire : public Base
{
protected:
    static void SetUpTestSuite()
    {
        s_pipeWire = std::make_unique<PrivatePipeWire>();
        s_pipeWire->start(QStringLiteral("yuy2,mjpg"), sessionManager);
    }
    static void TearDownTestSuite()
    {
        platform::vfw::setPipeWireConnection({platform::vfw::PipeWireConnection::Mode::Off});
        s_pipeWire.reset();
    }
    void SetUp() override
    {
        Base::SetUp();
        ASSERT_TRUE(s_pipeWire->error().isEmpty()) << s_pipeWire->error().toStdString();
        // Test bases may have switched PipeWire off.
        platform::vfw::setPipeWireConnection({});
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
