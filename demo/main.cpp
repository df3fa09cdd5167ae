// The demo conferencing host:
//   vedereve-demo [--server PATH] [--output FOLDER] [--seconds N] [--press-play]
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <optional>

#include "DemoHost.h"
#include "base/CommandLine.h"

int main(int argc, char **argv)
{
    cli::CommandLine commandLine(
        QStringLiteral("vedereve-demo"),
        QStringLiteral("A small conferencing host with two participants on one desktop, each "
                       "a VEDerEve webcam panel\nshowing the other's camera."));
    QCommandLineParser &parser = commandLine.parser();
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("Start this VE_DerEve when the bus cannot activate it."),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("output"),
                      QStringLiteral("Folder for screenshots, the event log and the summary."),
                      QStringLiteral("folder")});
    parser.addOption({QStringLiteral("seconds"),
                      QStringLiteral("Leave after this many seconds (0: when closed)."),
                      QStringLiteral("n"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("press-play"),
                      QStringLiteral("Press each panel's Play with a synthetic click, for runs "
                                     "without a person.")});
    if (const std::optional<int> rc = commandLine.answerEarly(argc, argv))
        return *rc;
    // Without any display the window system would end the process inside Qt; read the command
    // line on the offscreen platform first, so that a wrong option is still told as one.
    const bool noDisplay = !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")
        && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (noDisplay)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (const std::optional<int> rc = commandLine.parse(QApplication::arguments()))
        return *rc;
    if (noDisplay && QGuiApplication::platformName() == u"offscreen") {
        std::fprintf(stderr,
                     "vedereve-demo: needs a display (DISPLAY is not set); "
                     "./scripts/demo.sh runs it under a virtual X server\n");
        return 1;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "vedereve-demo: no session bus (%s)\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    // Where the bus has no service file for the component, start it ourselves.
    QProcess server;
    const QString name = QStringLiteral("com.zedazido.VEDerEve");
    const auto activatable = bus.interface()->activatableServiceNames().value();
    if (!activatable.contains(name) && !bus.interface()->isServiceRegistered(name).value()
        && parser.isSet(QStringLiteral("server"))) {
        server.setProcessChannelMode(QProcess::ForwardedChannels);
        server.start(parser.value(QStringLiteral("server")), {});
        for (int i = 0; i < 100 && !bus.interface()->isServiceRegistered(name).value(); ++i)
            QThread::msleep(50);
    }

    DemoHost::Options options;
    options.output = parser.value(QStringLiteral("output"));
    options.seconds = parser.value(QStringLiteral("seconds")).toInt();
    options.pressPlay = parser.isSet(QStringLiteral("press-play"));
    // Each participant's camera is a setting of the component; the demo writes it only into a
    // settings file of its own, never into the person's.
    options.chooseDevices = qEnvironmentVariableIsSet("VEDEREVE_REGISTRY");
    DemoHost host(bus, options);
    if (!host.start())
        return 1;
    int rc = app.exec();
    if (server.state() != QProcess::NotRunning)
        server.waitForFinished(3000);
    if (rc == 0 && options.seconds > 0 && !host.callWorked()) {
        std::fprintf(stderr, "vedereve-demo: a panel showed none of the other's pictures\n");
        rc = 1;
    }
    return rc;
}
