// WebCamSnapShot's round trip to a parent process over the bus (the component's call into the
// parent's sink and the wait for its reply) against a bare bus call of the same size to the same
// process on the same bus. The parent is this program started again in its parent role.
//   bus_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "PrivateBus.h"
#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "automation/dbus/EventWait.h"
#include "automation/zozEZUdeZid.h"
#include "platform/shm/HandleTable.h"

namespace {

constexpr const char *kEchoInterface = "com.zedazido.VEDerEve.Bench";

// The bare call's other end: the same arguments and reply as the event's.
class EchoObject final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.zedazido.VEDerEve.Bench")
public Q_SLOTS:
    QByteArray Echo(const QByteArray &picHdr, int) { return picHdr; }
};

int runParent()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    VEDerEveEventSink sink;
    EchoObject echo;
    if (!sink.exportOn(bus, QStringLiteral("/parent/sink"))
        || !bus.registerObject(QStringLiteral("/parent/echo"), &echo,
                               QDBusConnection::ExportAllSlots))
        return 2;
    VEDerEveClient client(bus);
    if (!client.create() || !client.advise(sink))
        return 3;
    std::printf("READY %s %s\n", qPrintable(client.path()), qPrintable(bus.baseService()));
    std::fflush(stdout);
    QEventLoop().exec(); // until the benchmark ends it
    return 0;
}

struct Context
{
    bus::ClassFactory *factory = nullptr;
    zozEZUdeZid *object = nullptr;
    QDBusConnection *host = nullptr;
    QString parentService;
};
Context g;

void BM_SnapshotRoundTrip(benchmark::State &state)
{
    QByteArray header(24, '\x5a');
    for (auto _ : state)
        Q_EMIT g.object->events()->WebCamSnapShot(header, 7);
    benchmark::DoNotOptimize(header.data());
}

// The event waits for its reply serving the component's own events meanwhile (re-entrancy), so
// the bare call is measured both ways: with the event's own wait, and blocking.
enum class Wait { ServingEvents, Blocking };

void BM_BareCall(benchmark::State &state, Wait wait)
{
    const QByteArray header(24, '\x5a');
    for (auto _ : state) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            g.parentService, QStringLiteral("/parent/echo"), QLatin1StringView(kEchoInterface),
            QStringLiteral("Echo"));
        call << header << 7;
        const QDBusMessage reply = wait == Wait::Blocking
            ? g.host->call(call, QDBus::Block, 5000)
            : bus::callServingEvents(*g.host, call, 5000).value_or(QDBusMessage());
        if (reply.type() != QDBusMessage::ReplyMessage) {
            state.SkipWithError("no reply");
            break;
        }
    }
}
BENCHMARK_CAPTURE(BM_BareCall, ServingEvents, Wait::ServingEvents)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BareCall, Blocking, Wait::Blocking)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_SnapshotRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsSet("VEDEREVE_BENCH_PARENT")) {
        QApplication app(argc, argv);
        return runParent();
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    qputenv("VEDEREVE_SHM_PREFIX",
            "/vedereve-bench-bus-" + QByteArray::number(qint64(::getpid())) + "-");
    // The objects the component makes under this run's prefix go whatever way the run ends.
    struct RemoveObjects
    {
        ~RemoveObjects()
        {
            platform::shm::removeObject("dirUzevevav");
            platform::shm::removeObject("ridEvadezaz");
        }
    } removeObjects;
    QTemporaryDir settings;
    qputenv("VEDEREVE_REGISTRY",
            (settings.path() + QStringLiteral("/registry.sqlite")).toLocal8Bit());
    {
        QApplication app(argc, argv);
        PrivateBus privateBus;
        if (!privateBus.start())
            return 2;
        QDBusConnection host = privateBus.connect(QStringLiteral("host"));
        bus::ClassFactory factory(host);
        if (!factory.registerFactory() || !host.registerService(bus::kServiceName))
            return 3;
        QProcess parent;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), privateBus.address());
        env.insert(QStringLiteral("VEDEREVE_BENCH_PARENT"), QStringLiteral("1"));
        parent.setProcessEnvironment(env);
        parent.start(QCoreApplication::applicationFilePath(), {});
        QByteArray output;
        if (!QTest::qWaitFor(
                [&] {
                    output += parent.readAllStandardOutput();
                    return output.contains('\n');
                },
                15000))
            return 4;
        const QList<QByteArray> ready = output.trimmed().split(' ');
        g.factory = &factory;
        g.object = factory.object(QString::fromUtf8(ready.value(1)));
        g.host = &host;
        g.parentService = QString::fromUtf8(ready.value(2));
        if (!g.object)
            return 5;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        parent.kill();
        parent.waitForFinished(3000);
        g = {};
    }
    return 0;
}

#include "BusBench.moc"
