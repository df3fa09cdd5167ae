// The demo conferencing host: vedereve-demo [--server PATH] [--output FOLDER] [--seconds N]
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QThread>

#include <cstdio>

#include "DemoHost.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("Start this VE_DerEve when the bus cannot activate it."),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("output"),
                      QStringLiteral("Folder for screenshots and the event summary."),
                      QStringLiteral("folder")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Quit after this many seconds."),
                      QStringLiteral("n"), QStringLiteral("0")});
    parser.process(app);

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

    DemoHost host(bus, parser.value(QStringLiteral("output")));
    if (!host.start(parser.value(QStringLiteral("seconds")).toInt()))
        return 1;
    const int rc = app.exec();
    if (server.state() != QProcess::NotRunning)
        server.waitForFinished(3000);
    return rc;
}
