// A parent process receives the camera's frames: WebCamSnapShot over the bus, the image block
// read while the event is handled, gone once it returns. The component is hosted in this process
// on a virtual camera; a person presses Play.

#include "PrivateBus.h"

#include "ImageBlocks.h"
#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/VirtualCamera.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <map>
#include <memory>

namespace {

// Where the parent samples the pictures it receives: amid the test picture's colour bars, away
// from their edges and the text, where JPEG keeps colours close.
const QPoint kSamples[] = {{33, 72}, {77, 72}, {121, 100}};

// The parent: creates an object, asks for transmission, and reports per snapshot
// "SNAPSHOT <number> <whether the block matched its announcement> <samples>", then
// "GONE <number> <whether the block went once the event returned>".
int runParent()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    VEDerEveEventSink sink;
    VEDerEveClient client(bus);
    if (!sink.exportOn(bus, QStringLiteral("/parent/sink")) || !client.create()
        || !client.advise(sink))
        return 2;
    int received = 0;
    QObject::connect(
        &sink, &VEDerEveEventSink::WebCamSnapShot, [&](QByteArray &picHdr, std::int32_t number) {
            // Inside the handler the block is there; a copy is all the parent keeps.
            const std::optional<ImageBlockCopy> block = readImageBlock(number);
            if (!block)
                return;
            const QImage picture = QImage::fromData(block->data, "JPG");
            const bool matches = block->header.DataLength == block->data.size()
                && picHdr == block->headerBytes && picture.size() == QSize(176, 144);
            std::printf("SNAPSHOT %d %d", number, matches);
            for (const QPoint &p : kSamples)
                std::printf(" %x", picture.pixel(p));
            std::printf("\n");
            // Gone once this handler has returned and the component went on.
            QTimer::singleShot(0, &sink, [number] {
                const bool gone
                    = QTest::qWaitFor([number] { return !readImageBlock(number); }, 2000);
                std::printf("GONE %d %d\n", number, gone);
                std::fflush(stdout);
            });
            ++received;
        });
    if (!(client.setTransmitPost(true) && client.setTransmitStatus(true) && client.Show()
          && client.Maximize() && client.setCurrentTab(1)))
        return 4;
    std::printf("READY %s\n", qPrintable(client.path()));
    std::fflush(stdout);
    const bool enough = QTest::qWaitFor([&] { return received >= 2; }, 15000);
    QTest::qWait(300);
    return enough ? 0 : 5;
}

TEST(ParentProcessRole, ReceivesSnapshots)
{
    if (qEnvironmentVariableIsEmpty("VEDEREVE_SNAPSHOT_PARENT"))
        GTEST_SKIP() << "runs only as the parent process of SnapshotOverBus";
    std::fflush(stdout);
    std::_Exit(runParent());
}

TEST(SnapshotOverBus, ParentReadsEachFrameDuringItsEventAndTheBlockGoesAfterwards)
{
    platform::vfw::VirtualCameraConfig camera;
    camera.formats = {{platform::vfw::BI_RGB, 24, 176, 144}};
    platform::vfw::VirtualCameras::configure({camera});
    platform::vfw::setPipeWireConnection({platform::vfw::PipeWireConnection::Mode::Off});
    CRegSettings().SaveSetting("Defaults", "WebCamDevice", "0");

    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    QDBusConnection host = bus.connect(QStringLiteral("host"));
    bus::ClassFactory factory(host, bus::ServerOptions {5000, 100, 60000});
    ASSERT_TRUE(factory.registerFactory());
    ASSERT_TRUE(host.registerService(QString::fromLatin1(bus::kServiceName)));

    QProcess parent;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("VEDEREVE_SNAPSHOT_PARENT"), QStringLiteral("1"));
    parent.setProcessEnvironment(env);
    parent.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=ParentProcessRole.*")});
    QByteArray output;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            output += parent.readAllStandardOutput();
            return output.contains("READY ") && output.endsWith('\n');
        },
        15000));
    const QString path
        = QString::fromUtf8(output.mid(output.indexOf("READY ") + 6).split('\n').first());
    zozEZUdeZid *object = factory.object(path);
    ASSERT_NE(object, nullptr) << output.toStdString();
    const PanelTestAccess view(object->form()->WebCam());
    // What the preview showed when each frame went out: the picture moves from frame to frame.
    std::map<int, QImage> previews;
    QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                     [&](QByteArray &, std::int32_t number) {
                         previews[number] = view.box("picWebCam")->Image();
                     });
    // The person presses Play. The timers and the bus run on this thread: keep serving them
    // until the parent is done.
    QTest::mouseClick(view.widget("imgCamOnMain"), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(view.capture().CameraOn());
    ASSERT_TRUE(QTest::qWaitFor([&] { return parent.state() == QProcess::NotRunning; }, 20000))
        << (output + parent.readAllStandardOutput()).toStdString();
    output += parent.readAllStandardOutput();
    ASSERT_EQ(parent.exitCode(), 0) << output.toStdString();

    int snapshots = 0, checkedGone = 0;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.value(0) == "GONE") {
            ++checkedGone;
            EXPECT_EQ(f.value(2), "1")
                << "block still there after the event: " << line.toStdString();
        }
        if (f.value(0) != "SNAPSHOT")
            continue;
        ++snapshots;
        EXPECT_EQ(f.value(2), "1") << "size, header or picture differ: " << line.toStdString();
        // The picture the parent got is the frame the preview showed, within JPEG's losses.
        const QImage shown = previews[f.value(1).toInt()];
        ASSERT_FALSE(shown.isNull()) << line.toStdString();
        for (int i = 0; i < 3; ++i) {
            const QRgb seen = f.value(3 + i).toUInt(nullptr, 16);
            const QRgb expected = shown.pixel(kSamples[i]);
            EXPECT_LT(std::abs(qRed(seen) - qRed(expected))
                          + std::abs(qGreen(seen) - qGreen(expected))
                          + std::abs(qBlue(seen) - qBlue(expected)),
                      60)
                << line.toStdString() << " sample " << i;
        }
    }
    EXPECT_GE(snapshots, 2);
    EXPECT_GE(checkedGone, 1) << output.toStdString();
    platform::vfw::VirtualCameras::reset();
    platform::vfw::setPipeWireConnection({});
}

} // namespace
