// VE_DerEve: the component's server process on the session bus. Started by bus activation when a
// parent asks for the bus name (with no arguments); ends shortly after its last object ended.

#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "base/CommandLine.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>

#include "platform/core/TerminationSignal.h"

#ifdef VEDEREVE_CAMERA_PROFILES_BUILD
#include "platform/capture/fake/CameraProfile.h"
#endif

namespace {

// The component places real X11 windows, so a desktop session uses xcb (XWayland under
// Wayland); without any display it still runs, on the offscreen platform. An explicit
// QT_QPA_PLATFORM always wins.
void choosePlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
}

} // namespace

int main(int argc, char **argv)
{
    // The server has no options of its own; it answers --help and --version for a person at a
    // shell, and refuses what it does not know rather than start with it.
    cli::CommandLine commandLine(
        QStringLiteral("VE_DerEve"),
        QStringLiteral("The VEDerEve webcam component's server on the session bus.\n"
                       "The bus starts it when a parent asks for com.zedazido.VEDerEve; it ends "
                       "shortly after\nits last object. Qt's own options (such as -platform) are "
                       "accepted."));
    if (const std::optional<int> rc = commandLine.answerEarly(argc, argv))
        return *rc;
    choosePlatform();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VE_DerEve"));
    if (const std::optional<int> rc = commandLine.parse(QApplication::arguments()))
        return *rc;
    // The windows belong to objects; closing one must not end the server.
    QApplication::setQuitOnLastWindowClosed(false);
#ifdef VEDEREVE_CAMERA_PROFILES_BUILD
    // This test build runs on the camera profiles that VEDEREVE_CAMERA_PROFILES names, in place
    // of the machine's cameras.
    if (!platform::vfw::fake::installCameraProfilesFromEnvironment())
        return EXIT_FAILURE;
#endif

    QDBusConnection connection = QDBusConnection::sessionBus();
    if (!connection.isConnected()) {
        std::fprintf(stderr, "VE_DerEve: cannot connect to the session bus: %s\n",
                     qPrintable(connection.lastError().message()));
        return EXIT_FAILURE;
    }

    // SIGTERM and SIGINT end the server like a release of every object: the objects terminate
    // in order and release their shared memory.
    const platform::UniqueFd terminate = platform::watchTerminationSignals();
    QSocketNotifier terminateNotifier(terminate.get(), QSocketNotifier::Read);

    bus::ClassFactory factory(connection);
    // The name goes first: until the process is gone a parent's call to the name must either
    // reach a working factory or start a new server, never find the name without the factory.
    const auto leave = [&] {
        terminateNotifier.setEnabled(false);
        connection.interface()->unregisterService(QLatin1StringView(bus::kServiceName));
        QCoreApplication::quit();
    };
    QObject::connect(&terminateNotifier, &QSocketNotifier::activated, &app, leave);
    QObject::connect(&factory, &bus::ClassFactory::idle, &app, leave);
    // The factory first: a parent activated by the name calls it as soon as the name appears.
    if (!factory.registerFactory()) {
        std::fprintf(stderr, "VE_DerEve: cannot export the class factory at %s\n",
                     bus::kFactoryPath);
        return EXIT_FAILURE;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned
        = connection.interface()->registerService(QLatin1StringView(bus::kServiceName),
                                                  QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement);
    if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        std::fprintf(stderr,
                     "VE_DerEve: the bus name %s is taken by another process; is a server "
                     "already running?\n",
                     bus::kServiceName);
        return EXIT_FAILURE;
    }
    return app.exec();
}
