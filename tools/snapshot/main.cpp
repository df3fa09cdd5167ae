// Renders the component's window in its typical states to PNG files, for looking at the panel
// without a conferencing client: vedereve-snapshot <folder>. With a camera chosen in the
// settings ("Defaults"/"WebCamDevice") it also presses Play and shows the running preview.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>

#include <cstdio>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "panel/cveDerEve.h"

namespace {

void save(QWidget *window, const QString &folder, const QString &name, int zoom)
{
    QApplication::processEvents();
    const QPixmap shot = window->grab();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    shot.save(path);
    if (zoom > 1)
        shot.scaled(shot.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .save(QDir(folder).filePath(name + QStringLiteral("-x") + QString::number(zoom)
                                        + QStringLiteral(".png")));
    std::printf("%s %dx%d\n", qPrintable(path), shot.width(), shot.height());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString folder = args.value(1, QStringLiteral("."));
    QDir().mkpath(folder);

    zozEZUdeZid object;
    object.SetPosition(40, 40);
    object.Show();
    save(object.form(), folder, QStringLiteral("form-after-show"), 3);

    object.Maximize();
    save(object.form(), folder, QStringLiteral("expanded-participant"), 3);

    object.setCurrentTab(1);
    save(object.form(), folder, QStringLiteral("expanded-webcam"), 3);

    // With a camera chosen in the settings, Play is there: press it as a person does and let the
    // capture timer run for a second.
    if (QWidget *play = object.form()->findChild<QWidget *>(QStringLiteral("imgCamOnMain"));
        play && play->isVisibleTo(object.form())) {
        const QPointF at(5, 5);
        QMouseEvent press(QEvent::MouseButtonPress, at, play->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, {});
        QMouseEvent release(QEvent::MouseButtonRelease, at, play->mapToGlobal(at),
                            Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(play, &press);
        QApplication::sendEvent(play, &release);
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 1000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        save(object.form(), folder, QStringLiteral("expanded-webcam-running"), 3);
    }

    object.setCurrentTab(0);
    object.RecieveWebCamImages(false);
    save(object.form(), folder, QStringLiteral("expanded-receiving-off"), 3);
    return 0;
}
