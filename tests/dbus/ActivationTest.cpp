// The real server, started by bus activation from the build tree, driven by a parent here.

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

#include <cstdio>

// A hostile parent in a child process: two objects, the first one's sink calls Minimize from every
// MinMaxResize, and the parent calls Minimize itself until it is killed.
TEST(HostileRole, ReentersMinimizeForEver)
{
    const QString address = qEnvironmentVariable("VEDEREVE_HOSTILE_BUS");
    if (address.isEmpty())
        GTEST_SKIP() << "only runs as the child of ActivatedServer tests";
    QDBusConnection parent = QDBusConnection::connectToBus(address, "hostile");
    VEDerEveEventSink sink;
    VEDerEveClient client(parent), second(parent);
    ASSERT_TRUE(sink.exportOn(parent, "/hostile/sink") && client.create() && second.create());
    // The debug flag is the process's; the other values are each object's own.
    ASSERT_TRUE(second.setDebugFlag(true) && client.setTransmitStatus(true)
                && client.setCaptureInterval(500) && second.setCaptureInterval(2000));
    std::printf("INTERVALS %d %d\n", client.CaptureInterval(), second.CaptureInterval());
    // Reports each new depth of its own handler's nesting.
    int depth = 0, deepest = 0;
    QObject::connect(&sink, &VEDerEveEventSink::MinMaxResize,
                     [&](bool minimized, std::int32_t shift) {
                         if (++depth > deepest) {
                             deepest = depth;
                             std::printf("DEPTH %d %d %d\n", deepest, minimized, shift);
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

// Hostile or careless parents cost bounded work; the parents' end ends the objects and server.
TEST(ActivatedServer, HostileOrCarelessParentsCostBoundedWorkAndTheirEndEndsTheServer)
{
    QTemporaryDir dir;
    const QString tracePath = dir.filePath("trace.txt");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment serverEnv = env;
    serverEnv.insert("QT_QPA_PLATFORM", "offscreen");
    serverEnv.insert("VEDEREVE_TRACE_FILE", tracePath);
    PrivateBus bus;
    ASSERT_TRUE(dir.isValid() && bus.start(VEDEREVE_SERVICES_DIR, serverEnv));
    QProcess hostile;
    env.insert("VEDEREVE_HOSTILE_BUS", bus.address());
    hostile.setProcessEnvironment(env);
    hostile.setProcessChannelMode(QProcess::MergedChannels);
    hostile.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=HostileRole.*"});
    QByteArray output;
    const auto read = [&] { return (output += hostile.readAll()).contains("HOSTILE_READY"); };
    ASSERT_TRUE(QTest::qWaitFor(read, 20000));
    QTest::qWait(1000); // let it nest as deep as it can
    read();
    EXPECT_TRUE(output.contains("INTERVALS 500 2000\n")) << output.toStdString();
    // The minimise reached the parent's sink while the parent waited for its own call.
    EXPECT_TRUE(output.contains("DEPTH 1 1 198\n")) << output.toStdString();
    // Its handlers called back while an event waited: past the nesting bound no event is sent.
    const qsizetype last = output.lastIndexOf("DEPTH ");
    EXPECT_LE(output.mid(last + 6).split(' ').first().toInt(), 8); // the documented depth

    // Another parent is served meanwhile, also after naming a fifo as its default picture.
    const QString fifo = dir.filePath("picture.png");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    QDBusConnection other = bus.connect("other");
    VEDerEveClient client(other);
    client.setCallTimeout(3000);
    ASSERT_TRUE(client.create()) << client.lastError().toStdString();
    ASSERT_TRUE(client.WebCamDefaultPic(fifo)
                && client.WebCamDefaultPic(QUrl::fromLocalFile(fifo).toString()));

    // A server started by hand while the name is taken leaves the running one alone.
    QProcess second;
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    second.start(VEDEREVE_SERVER_PATH, {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_TRUE(second.exitCode() != 0 && second.readAllStandardError().contains("is taken"));
    const QDBusReply<uint> pid = other.interface()->servicePid(bus::kServiceName);
    ASSERT_TRUE(pid.isValid());
    ASSERT_TRUE(client.release());

    // The hostile parent dies without releasing: the server ends both its objects (its debug flag
    // traces the whole process), then leaves the name within a second and exits.
    hostile.kill();
    hostile.waitForFinished(5000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !other.interface()->isServiceRegistered(bus::kServiceName).value(); }, 5000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return processEnded(pid.value()); }, 1500));
    QFile traceFile(tracePath);
    ASSERT_TRUE(traceFile.open(QIODevice::ReadOnly));
    const QString trace = QString::fromUtf8(traceFile.readAll());
    EXPECT_EQ(std::pair(trace.count("WebCam Class_Terminate Entry"),
                        trace.count("WebCam Class_Terminate Exit")),
              std::pair(qsizetype(3), qsizetype(3)))
        << trace.right(2000).toStdString();
    // A new parent finds a working server again.
    VEDerEveClient next(other);
    EXPECT_TRUE(next.create()) << next.lastError().toStdString();
}
