// The real server, started by bus activation from the build tree's services folder, driven by a
// parent in this process.

#include "PrivateBus.h"

#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
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

// Runs in a child process: a hostile parent whose sink calls Minimize again from every
// MinMaxResize, and which keeps calling Minimize itself, until it is killed.
TEST(HostileRole, ReentersMinimizeForEver)
{
    const QString address = qEnvironmentVariable("VEDEREVE_HOSTILE_BUS");
    if (address.isEmpty())
        GTEST_SKIP() << "only runs as the child of ActivatedServer tests";
    QDBusConnection parent = QDBusConnection::connectToBus(address, "hostile");
    VEDerEveEventSink sink;
    ASSERT_TRUE(sink.exportOn(parent, "/hostile/sink"));
    VEDerEveClient client(parent);
    ASSERT_TRUE(client.create());
    // Reports each new depth of its own handler's nesting.
    int depth = 0, deepest = 0;
    QObject::connect(&sink, &VEDerEveEventSink::MinMaxResize, [&](bool, std::int32_t) {
        if (++depth > deepest) {
            deepest = depth;
            std::printf("DEPTH %d\n", deepest);
            std::fflush(stdout);
        }
        client.Minimize();
        --depth;
    });
    ASSERT_TRUE(client.advise(sink));
    std::printf("HOSTILE_READY\n");
    std::fflush(stdout);
    for (;;)
        client.Minimize();
}

// Starts this binary as the child that runs one role; its output is read from the test.
QProcess *startRole(const char *filter, const char *variable, const QString &address)
{
    auto *child = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(variable, address);
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->start(QCoreApplication::applicationFilePath(), {QString("--gtest_filter=") + filter});
    return child;
}

// Ended: gone, or a zombie that nobody has reaped yet (this machine's init reaps slowly).
bool processEnded(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray fields = stat.readAll();
    const qsizetype close = fields.lastIndexOf(')');
    return close < 0 || fields.mid(close + 2, 1) == "Z";
}

bool nameOwned(QDBusConnection &connection)
{
    return connection.interface()->isServiceRegistered(bus::kServiceName).value();
}

qint64 serverPid(QDBusConnection &connection)
{
    const QDBusReply<uint> pid = connection.interface()->servicePid(bus::kServiceName);
    return pid.isValid() ? qint64(pid.value()) : 0;
}

TEST_F(ActivatedServer, ReenteringSinkCostsBoundedNestingAndTheServerGoesOn)
{
    const std::unique_ptr<QProcess> hostile(
        startRole("HostileRole.*", "VEDEREVE_HOSTILE_BUS", m_bus.address()));
    QByteArray output;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            output += hostile->readAll();
            return output.contains("HOSTILE_READY");
        },
        20000));
    QTest::qWait(1000); // let it nest as deep as it can
    output += hostile->readAll();
    // Each of its handlers called back while an event of ours waited: the server stopped
    // sending events at its nesting bound, so the handlers never nested deeper.
    const qsizetype last = output.lastIndexOf("DEPTH ");
    ASSERT_GE(last, 0) << output.toStdString();
    EXPECT_LE(output.mid(last + 6).split('\n').first().toInt(), 8); // the documented depth

    // Another parent is served meanwhile.
    QDBusConnection other = m_bus.connect("other");
    VEDerEveClient client(other);
    client.setCallTimeout(3000);
    ASSERT_TRUE(client.create()) << client.lastError().toStdString();
    ASSERT_TRUE(client.setCaptureInterval(777));
    EXPECT_EQ(client.CaptureInterval(), 777);
    const qint64 pid = serverPid(other);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(client.release());

    // The hostile parent dies; the server ends its object and leaves soon after.
    hostile->kill();
    hostile->waitForFinished(5000);
    // The name goes within a second (the exit delay is half of it); the process follows.
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !nameOwned(other); }, 5000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return processEnded(pid); }, 1500));
}

TEST_F(ActivatedServer, DefaultPictureOnAFifoNeitherBlocksTheServerNorItsExit)
{
    const QString fifo = m_dir.filePath("picture.png");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    QDBusConnection parent = m_bus.connect("parent");
    VEDerEveClient client(parent);
    client.setCallTimeout(3000);
    ASSERT_TRUE(client.create());
    const qint64 pid = serverPid(parent);
    ASSERT_TRUE(client.WebCamDefaultPic(fifo));
    ASSERT_TRUE(client.WebCamDefaultPic(QUrl::fromLocalFile(fifo).toString()));
    EXPECT_TRUE(client.setCurrentTab(1));
    EXPECT_EQ(client.CurrentTab(), 1);
    ASSERT_TRUE(client.release());
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !nameOwned(parent); }, 5000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return processEnded(pid); }, 1500));
    // A new parent finds a working server again.
    VEDerEveClient next(parent);
    EXPECT_TRUE(next.create()) << next.lastError().toStdString();
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return processEnded(pid); }, 1500));
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
