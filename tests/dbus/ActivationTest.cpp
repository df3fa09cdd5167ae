// The real server, started by bus activation from the build tree's services folder, driven by a
// parent in this process.

#include "PrivateBus.h"

#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

QString traceText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool processGone(qint64 pid)
{
    // The daemon reaps the servers it started; a pid that cannot be signalled has ended.
    return ::kill(pid_t(pid), 0) != 0;
}

class ActivatedServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_trace = m_dir.filePath(QStringLiteral("trace.txt"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VEDEREVE_TRACE_FILE"), m_trace);
        env.insert(QStringLiteral("VEDEREVE_SHM_PREFIX"), QStringLiteral("/vedereve-test-dbus-"));
        env.insert(QStringLiteral("VEDEREVE_REGISTRY"),
                   m_dir.filePath(QStringLiteral("reg.sqlite")));
        ASSERT_TRUE(m_bus.start(QStringLiteral(VEDEREVE_SERVICES_DIR), env));
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
    QDBusConnection parent = QDBusConnection::connectToBus(address, QStringLiteral("parent"));
    VEDerEveEventSink sink;
    ASSERT_TRUE(sink.exportOn(parent, QStringLiteral("/parent/sink")));
    QList<std::pair<bool, std::int32_t>> resizes;
    QObject::connect(&sink, &VEDerEveEventSink::MinMaxResize,
                     [&](bool minimized, std::int32_t shift) {
                         resizes.append({minimized, shift});
                     });

    VEDerEveClient first(parent);
    VEDerEveClient second(parent);
    ASSERT_TRUE(first.create()) << first.lastError().toStdString();
    ASSERT_TRUE(second.create()) << second.lastError().toStdString();
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(first.path().startsWith(QLatin1StringView(bus::kObjectPathPrefix)));
    const QDBusReply<uint> pid
        = parent.interface()->servicePid(QString::fromLatin1(bus::kServiceName));
    ASSERT_TRUE(pid.isValid());
    std::printf("SERVER_PID=%u\n", pid.value());

    EXPECT_TRUE(first.setDebugFlag(true));
    EXPECT_TRUE(first.setCaptureInterval(500));
    EXPECT_TRUE(second.setCaptureInterval(2000));
    EXPECT_TRUE(first.setCurrentTab(1));
    EXPECT_TRUE(first.setTransmitStatus(true));
    EXPECT_EQ(first.CaptureInterval(), 500);
    EXPECT_EQ(second.CaptureInterval(), 2000);
    EXPECT_EQ(first.CurrentTab(), 1);
    EXPECT_EQ(second.CurrentTab(), 0);
    EXPECT_TRUE(first.TransmitStatus());
    EXPECT_FALSE(second.TransmitStatus());
    EXPECT_EQ(first.Height(), 215);

    // A minimise in the panel reaches the parent's sink while the parent waits for the call.
    ASSERT_TRUE(first.advise(sink));
    ASSERT_TRUE(first.SetPosition(400, 10));
    ASSERT_TRUE(first.Minimize());
    ASSERT_EQ(resizes.size(), 1);
    EXPECT_EQ(resizes.at(0), std::make_pair(true, std::int32_t(198)));

    // Leave as a crashing parent would: no Release, no destructors.
    std::fflush(stdout);
    std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST_F(ActivatedServer, ParentLeavingWithoutReleaseEndsBothObjectsAndTheServer)
{
    QProcess parent;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VEDEREVE_PARENT_BUS"), m_bus.address());
    parent.setProcessEnvironment(env);
    parent.setProcessChannelMode(QProcess::MergedChannels);
    parent.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=ParentRole.*")});
    ASSERT_TRUE(parent.waitForFinished(60000));
    const QString output = QString::fromUtf8(parent.readAll());
    ASSERT_EQ(parent.exitCode(), 0) << output.toStdString();

    const qsizetype at = output.indexOf(QStringLiteral("SERVER_PID="));
    ASSERT_GE(at, 0) << output.toStdString();
    const qint64 pid = output.mid(at + 11).section(QLatin1Char('\n'), 0, 0).toLongLong();
    ASSERT_GT(pid, 0);

    // The first object's DebugFlag switches tracing on for the whole process.
    const auto terminated = [&] {
        return traceText(m_trace).count(QStringLiteral("WebCam Class_Terminate Exit")) == 2;
    };
    EXPECT_TRUE(QTest::qWaitFor(terminated, 5000)) << traceText(m_trace).toStdString();
    EXPECT_EQ(traceText(m_trace).count(QStringLiteral("WebCam Class_Terminate Entry")), 2);
    EXPECT_TRUE(traceText(m_trace).contains(QStringLiteral("WebCam TransmitStatus = True")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(pid); }, 5000));
}

TEST_F(ActivatedServer, SecondServerRefusesToStartWhenTheNameIsTaken)
{
    QDBusConnection parent = m_bus.connect(QStringLiteral("parent"));
    VEDerEveClient client(parent);
    ASSERT_TRUE(client.create()) << client.lastError().toStdString();

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(VEDEREVE_SERVER_PATH), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("is taken"));
    // The running server is untouched.
    EXPECT_TRUE(client.setCaptureInterval(250));
    EXPECT_EQ(client.CaptureInterval(), 250);
}
