// A parent process receives over the bus the pictures of a PipeWire camera that the component in
// this process captures after Play was pressed; they show the camera's picture.

#include "PrivatePipeWire.h"

#include "ImageBlocks.h"
#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "dbus/PrivateBus.h"
#include "platform/capture/VirtualCamera.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"

#include <QCoreApplication>
#include <QImage>
#include <QTest>

#include <cstdio>

namespace {

// The parent: prints "SNAPSHOT <colour classes of the quadrants>" for each picture it reads.
TEST(ParentProcessRole, ReceivesPictures)
{
    if (qEnvironmentVariableIsEmpty("VEDEREVE_PIPEWIRE_PARENT"))
        GTEST_SKIP() << "runs only as the parent process of PipeWireOverBus";
    QDBusConnection bus = QDBusConnection::sessionBus();
    VEDerEveEventSink sink;
    VEDerEveClient client(bus);
    if (!sink.exportOn(bus, QStringLiteral("/parent/sink")) || !client.create()
        || !client.advise(sink)
        || !(client.setTransmitPost(true) && client.setTransmitStatus(true) && client.Show()
             && client.Maximize() && client.setCurrentTab(1)))
        std::_Exit(2);
    int received = 0;
    QObject::connect(&sink, &VEDerEveEventSink::WebCamSnapShot, [&](QByteArray &, std::int32_t n) {
        const std::optional<ImageBlockCopy> block = readImageBlock(n);
        const QImage picture = block ? QImage::fromData(block->data, "JPG") : QImage();
        std::string classes;
        for (const auto &[fx, fy] : {std::pair {1, 1}, {3, 1}, {1, 3}, {3, 3}}) {
            const QRgb p = picture.isNull()
                ? 0
                : picture.pixel(fx * picture.width() / 4, fy * picture.height() / 4);
            classes += colourClass(qRed(p), qGreen(p), qBlue(p));
        }
        std::printf("SNAPSHOT %s\n", classes.c_str());
        std::fflush(stdout);
        ++received;
    });
    std::printf("READY %s\n", qPrintable(client.path()));
    std::fflush(stdout);
    std::_Exit(QTest::qWaitFor([&] { return received >= 3; }, 15000) ? 0 : 5);
}

using PipeWireOverBus = WithPipeWire<>;

TEST_F(PipeWireOverBus, ParentReceivesTheCamerasPictures)
{
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-bus", 0));
    platform::vfw::VirtualCameras::configure({});
    int index = -1;
    ASSERT_TRUE(waitUntil([&] { return (index = indexOf("vedereve-bus")) >= 0; }, 3000));
    CRegSettings().SaveSetting("Defaults", "WebCamDevice", QString::number(index));

    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    QDBusConnection host = bus.connect(QStringLiteral("host"));
    bus::ClassFactory factory(host, bus::ServerOptions {5000, 100, 60000});
    ASSERT_TRUE(factory.registerFactory());
    ASSERT_TRUE(host.registerService(QString::fromLatin1(bus::kServiceName)));
    QProcess parent;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("VEDEREVE_PIPEWIRE_PARENT"), QStringLiteral("1"));
    parent.setProcessEnvironment(env);
    parent.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=ParentProcessRole.*")});
    QByteArray output;
    ASSERT_TRUE(waitUntil(
        [&] {
            return (output += parent.readAllStandardOutput()).contains("READY ")
                && output.endsWith('\n');
        },
        15000));
    const QString path
        = QString::fromUtf8(output.mid(output.indexOf("READY ") + 6).split('\n').first());
    zozEZUdeZid *object = factory.object(path);
    ASSERT_NE(object, nullptr) << output.toStdString();
    const PanelTestAccess view(object->form()->WebCam());
    ASSERT_EQ(view.deviceIndex(), index);
    QTest::mouseClick(view.widget("imgCamOnMain"), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(waitUntil([&] { return parent.state() == QProcess::NotRunning; }, 20000));
    output += parent.readAllStandardOutput();
    EXPECT_EQ(parent.exitCode(), 0) << output.toStdString();
    int pictures = 0;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("SNAPSHOT ")) {
            ++pictures;
            EXPECT_EQ(line.mid(9).toStdString(), kQuadrants);
        }
    }
    EXPECT_GE(pictures, 3);
    platform::vfw::VirtualCameras::reset();
}

} // namespace
