// The real server, started by bus activation from the build tree's services folder, driven by a
// parent in this process.

#include "PrivateBus.h"

#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

QString traceText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class ActivatedServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_trace = m_dir.filePath("trace.txt");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VEDEREVE_TRACE_FILE", m_trace);
        ASSERT_TRUE(m_bus.start(VEDEREVE_SERVICES_DIR, env));
    }

    QTemporaryDir m_dir;
    QString m_trace;
    PrivateBus m_bus;
};

} // namespace

// Runs in a child process started by the test below: a parent that creates two objects, uses
// them and exits without releasing either.
TEST(ParentRole, DrivesTwoObjectsThenExitsWithoutReleasing)
{
    const QString address = qEnvironmentVariable("VEDEREVE_PARENT_BUS");
    if (address.isEmpty())
        GTEST_SKIP() << "only runs as the child of ActivatedServer tests";
    QDBusConnection parent = QDBusConnection::connectToBus(address, "parent");
    VEDerEveEventSink sink;
    ASSERT_TRUE(sink.exportOn(parent, "/parent/sink"));
    QStringList resizes;
    QObject::connect(&sink, &VEDerEveEventSink::MinMaxResize,
                     [&](bool minimized, std::int32_t shift) {
                         resizes << QString("%1 %2").arg(minimized).arg(shift);
                     });

    VEDerEveClient first(parent), second(parent);
    ASSERT_TRUE(first.create() && second.create()) << first.lastError().toStdString();
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(first.path().startsWith(bus::kObjectPathPrefix));
    const QDBusReply<uint> pid = parent.interface()->servicePid(bus::kServiceName);
    ASSERT_TRUE(pid.isValid());
    std::printf("SERVER_PID=%u\n", pid.value());

    EXPECT_TRUE(first.setDebugFlag(true) && first.setCaptureInterval(500)
                && second.setCaptureInterval(2000) && first.setCurrentTab(1)
                && first.setTransmitStatus(true));
    using Values = std::vector<std::int32_t>;
    EXPECT_EQ(Values({first.CaptureInterval(), first.CurrentTab(), first.TransmitStatus(),
                      first.Height()}),
              Values({500, 1, 1, 215}));
    EXPECT_EQ(Values({second.CaptureInterval(), second.CurrentTab(), second.TransmitStatus()}),
              Values({2000, 0, 0}));

    // A minimise in the panel reaches the parent's sink while the parent waits for the call.
    ASSERT_TRUE(first.advise(sink));
    ASSERT_TRUE(first.SetPosition(400, 10));
    ASSERT_TRUE(first.Minimize());
    EXPECT_EQ(resizes, QStringList {"1 198"});

    // Leave as a crashing parent would: no Release, no destructors.
    std::fflush(stdout);
    std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST_F(ActivatedServer, ParentLeavingWithoutReleaseEndsBothObjectsAndTheServer)
{
    QProcess parent;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEDEREVE_PARENT_BUS", m_bus.address());
    parent.setProcessEnvironment(env);
    parent.setProcessChannelMode(QProcess::MergedChannels);
    parent.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=ParentRole.*"});
    ASSERT_TRUE(parent.waitForFinished(60000));
    const QString output = QString::fromUtf8(parent.readAll());
    ASSERT_EQ(parent.exitCode(), 0) << output.toStdString();
    const qsizetype at = output.indexOf("SERVER_PID=");
    ASSERT_GE(at, 0) << output.toStdString();
    const qint64 pid = output.mid(at + 11).section('\n', 0, 0).toLongLong();
    ASSERT_GT(pid, 0);

    // The first object's DebugFlag switches tracing on for the whole process.
    const auto count = [&](const char *line) { return traceText(m_trace).count(line); };
    EXPECT_TRUE(QTest::qWaitFor([&] { return count("WebCam Class_Terminate Exit") == 2; }, 5000))
        << traceText(m_trace).toStdString();
    EXPECT_EQ(count("WebCam Class_Terminate Entry"), 2);
    EXPECT_GT(count("WebCam TransmitStatus = True"), 0);
    // The daemon reaps the servers it started; a pid that cannot be signalled has ended.
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(pid_t(pid), 0) != 0; }, 5000));
}

TEST_F(ActivatedServer, SecondServerRefusesToStartWhenTheNameIsTaken)
{
    QDBusConnection parent = m_bus.connect("parent");
    VEDerEveClient client(parent);
    ASSERT_TRUE(client.create()) << client.lastError().toStdString();

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.address());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    second.start(VEDEREVE_SERVER_PATH, {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("is taken"));
    // The running server is untouched.
    EXPECT_TRUE(client.setCaptureInterval(250));
    EXPECT_EQ(client.CaptureInterval(), 250);
}
