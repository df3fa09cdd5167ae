// A parent of the VEDerEve webcam component in a few lines: it creates a component object on the
// session bus, shows the component's window over a window of its own, takes the first picture the
// component sends (WebCamSnapShot) and hands it back as the remote participant's picture
// (UpdateParticipant), as a conferencing client does with the pictures of the other side.
//
//   vedereve-example-parent [seconds to wait for a picture, default 60]
//
// The component sends pictures once its camera runs (Play on its webcam tab) or when a stored
// picture is its chosen source.

#include <ImageBlocks.h>
#include <VEDerEveClient.h>
#include <VEDerEveEventSink.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;

    QLabel window(QStringLiteral("The conferencing client's own window"));
    window.setAlignment(Qt::AlignBottom | Qt::AlignHCenter);
    window.resize(480, 320);
    window.show();

    // Events arrive at a sink exported on our own connection; the component waits for each
    // handler, so a picture's block can be read inside it.
    QDBusConnection bus = QDBusConnection::sessionBus();
    VEDerEveEventSink sink;
    VEDerEveClient webcam(bus);
    if (!sink.exportOn(bus, QStringLiteral("/example/sink")) || !webcam.create()
        || !webcam.advise(sink)) {
        std::fprintf(stderr, "no component: %s\n", qPrintable(webcam.lastError()));
        return 1;
    }
    std::printf("created %s\n", qPrintable(webcam.path()));

    // The component's window goes 10 pixels inside ours; SetPosition takes the top first.
    const QPoint at = window.mapToGlobal(QPoint(10, 10));
    webcam.SetPosition(at.y(), at.x());
    webcam.Show();
    webcam.setTransmitPost(true);
    webcam.setTransmitStatus(true);

    ImageBlockWriter writer;
    bool taken = false;
    int result = 1;
    QObject::connect(
        &sink, &VEDerEveEventSink::WebCamSnapShot, [&](QByteArray &, std::int32_t imgNumber) {
            // Now or never: the block goes away when this handler returns.
            const std::optional<ImageBlockCopy> picture = readImageBlock(imgNumber);
            if (!picture || taken)
                return;
            taken = true;
            std::printf("snapshot %d: %d x %d, %lld bytes\n", imgNumber, picture->header.Width,
                        picture->header.Height, static_cast<long long>(picture->data.size()));
            // Sent back once the event has returned, as the other side's picture.
            QTimer::singleShot(0, &app, [&, copy = *picture] {
                ImageBlockWriter::Picture back;
                back.data = copy.data;
                back.width = copy.header.Width;
                back.height = copy.header.Height;
                const std::int32_t number = writer.write(back);
                const bool shown = number != 0
                    && webcam.UpdateParticipant(number, QStringLiteral("Example"),
                                                QStringLiteral("Here"));
                // The block is ours to remove once the call has returned.
                writer.release();
                std::printf("participant picture %d %s\n", number,
                            shown ? "handed over" : "refused");
                result = shown ? 0 : 1;
                QTimer::singleShot(500, &app, &QCoreApplication::quit);
            });
        });
    QTimer::singleShot(seconds * 1000, &app, [] {
        std::fprintf(stderr, "no picture from the component in time\n");
        QCoreApplication::quit();
    });
    app.exec();
    std::fflush(stdout);
    return result;
}
