#pragma once

#include "platform/capture/Drivers.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/fake/FakeV4l2.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <functional>
#include <map>
#include <memory>

// A private PipeWire daemon (scripts/pipewire-test-cameras.sh) whose environment this process
// takes while it runs, plus slow cameras plugged and unplugged at will. Every wait is bounded; a
// missing daemon is a failure, not a skip.
class PrivatePipeWire final
{
public:
    ~PrivatePipeWire() { stop(); }
    // cameras: "none" or a comma-separated list of yuy2 and mjpg (GStreamer colour bars); the
    // daemon has its own "Test Pattern Camera" too. On failure, error() says why.
    bool start(const QString &cameras = QStringLiteral("none"), bool sessionManager = false);
    void stop();
    // A socket connected to the daemon, as the portal hands out; -1 on failure.
    int connectedSocket() const;
    // A GStreamer camera of kind yuy2 or mjpg.
    bool plug(const QString &name, const QString &kind, const QString &description,
              const QString &size);
    // The slow camera (four quadrants, yuy2 or bgr): first frame delayMs after each start,
    // optionally as the node of a Video4Linux device; registered when this returns.
    bool plugSlow(const QString &name, int delayMs, const QString &format = QStringLiteral("yuy2"),
                  const QString &v4l2Path = {});
    void stall(const QString &name, bool stalled)
    {
        m_cameras[name].process->write(stalled ? "stall\n" : "resume\n");
    }
    void unplug(const QString &name);
    // What the camera printed so far ("paused", "first").
    QByteArray said(const QString &name);

    const QString &error() const { return m_error; }

private:
    bool run(const QString &name, const QString &program, const QStringList &args);

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

// Serves Qt events until predicate holds or timeoutMs passed.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs);

// The driver index of the present camera whose identity ends in identity; -1 otherwise.
inline int indexOf(const std::string &identity)
{
    const std::vector<platform::vfw::DriverEntry> drivers = platform::vfw::captureDrivers();
    for (std::size_t i = 0; i < drivers.size(); ++i)
        if (drivers[i].identity.ends_with(identity))
            return drivers[i].present ? int(i) : -1;
    return -1;
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
    static void TearDownTestSuite()
    {
        platform::vfw::setPipeWireConnection({platform::vfw::PipeWireConnection::Mode::Off});
        s_pipeWire.reset();
    }
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
