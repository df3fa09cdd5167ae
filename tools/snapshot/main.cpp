// Renders the component's window in its typical states to PNG files, for looking at the panel
// without a conferencing client: vedereve-snapshot <folder> [menus]. With a camera chosen in the
// settings (the device setting) it also presses Play and shows the running preview.
//
// With "menus" it runs on a scratch profile of its own (settings, shared memory, one virtual
// camera, two stored pictures), starts the camera and renders the open settings menu, its Device
// submenu, the preview's context menu and the two driver dialogs, each over the window.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "panel/cveDerEve.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/shm/HandleTable.h"
#include "support/CRegSettings.h"
#include "support/SettingKeys.h"

namespace {

void save(const QPixmap &shot, const QString &folder, const QString &name, int zoom)
{
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    shot.save(path);
    if (zoom > 1)
        shot.scaled(shot.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .save(QDir(folder).filePath(name + QStringLiteral("-x") + QString::number(zoom)
                                        + QStringLiteral(".png")));
    std::printf("%s %dx%d\n", qPrintable(path), shot.width(), shot.height());
}

void save(QWidget *window, const QString &folder, const QString &name, int zoom)
{
    QApplication::processEvents();
    save(window->grab(), folder, name, zoom);
}

// The widgets as the screen shows them, each at its place, on a neutral background.
QPixmap composite(const QList<QWidget *> &widgets)
{
    QRect all;
    for (const QWidget *widget : widgets)
        all |= QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    QPixmap canvas(all.size());
    canvas.fill(QColor(0xd8, 0xd8, 0xd8));
    QPainter painter(&canvas);
    for (QWidget *widget : widgets)
        painter.drawPixmap(widget->mapToGlobal(QPoint(0, 0)) - all.topLeft(), widget->grab());
    return canvas;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs open() and hands look() the first widget that find() returns while open() runs its modal
// loop; whatever menu is left open then closes without a choice.
void whileUp(const std::function<void()> &open, const std::function<QWidget *()> &find,
             const std::function<void(QWidget *)> &look)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget *widget = find()) {
            poll.stop();
            look(widget);
            while (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
        }
    });
    poll.start(10);
    open();
}

// A click where a person would click, with the pointer moved there first: menus open at it.
void clickOn(QWidget *control, Qt::MouseButton button)
{
    const QPoint at(control->width() / 2, control->height() / 2);
    QCursor::setPos(control->mapToGlobal(at));
    QWidget *top = control->window();
    QTest::mouseClick(top->windowHandle(), button, {}, control->mapTo(top, at));
}

QWidget *popup()
{
    return QApplication::activePopupWidget();
}

QWidget *modal()
{
    return QApplication::activeModalWidget();
}

void writePicture(const QString &path, QColor top, QColor bottom)
{
    QImage picture(320, 240, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, 0, 240);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(picture.rect(), gradient);
    painter.end();
    picture.save(path);
}

int menus(const QString &folder, const QTemporaryDir &scratch)
{
    platform::vfw::VirtualCameras::configure({{}});
    const QString holiday = scratch.filePath(QStringLiteral("holiday.jpg"));
    const QString portrait = scratch.filePath(QStringLiteral("portrait.bmp"));
    writePicture(holiday, QColor(90, 160, 230), QColor(230, 200, 120));
    writePicture(portrait, QColor(200, 120, 90), QColor(60, 40, 30));
    CRegSettings settings;
    settings.SaveSetting(SettingKeys::Defaults, SettingKeys::WebCamPic(1), holiday);
    settings.SaveSetting(SettingKeys::Defaults, SettingKeys::WebCamPic(2), portrait);
    settings.SaveSetting(SettingKeys::Defaults, SettingKeys::WebCamDevice, QStringLiteral("0"));

    zozEZUdeZid object;
    QWidget *form = object.form();
    object.SetPosition(40, 40);
    object.Show();
    object.Maximize();
    object.setCurrentTab(1);
    const auto control = [form](const char *name) {
        return form->findChild<QWidget *>(QString::fromLatin1(name));
    };
    clickOn(control("imgCamOnMain"), Qt::LeftButton);
    wait(600);

    const auto settingsMenu = [&] { clickOn(control("picSettingsMain"), Qt::LeftButton); };
    whileUp(settingsMenu, popup, [&](QWidget *menu) {
        save(composite({form, menu}), folder, QStringLiteral("settings-menu"), 2);
    });
    // Each submenu, opened with the keyboard: "device-submenu", "destination-area-submenu", ...
    for (int i = 0;; ++i) {
        bool more = false;
        whileUp(settingsMenu, popup, [&](QWidget *menu) {
            auto *settingsPopup = qobject_cast<QMenu *>(menu);
            QList<QAction *> headers;
            for (QAction *action : settingsPopup->actions())
                if (action->menu())
                    headers << action;
            if (i >= headers.size())
                return;
            more = true;
            settingsPopup->setActiveAction(headers[i]);
            QTest::keyClick(settingsPopup, Qt::Key_Right);
            const QString name = headers[i]->text().remove(u'&').toLower().replace(u' ', u'-');
            save(composite({form, menu, popup()}), folder, name + QStringLiteral("-submenu"), 2);
        });
        if (!more)
            break;
    }
    whileUp([&] { clickOn(control("picWebCam"), Qt::RightButton); }, popup,
            [&](QWidget *menu) {
                save(composite({form, menu}), folder, QStringLiteral("context-menu"), 2);
            });
    // The driver dialogs through their access keys; each shows over the window.
    for (const auto &shot :
         {std::pair {Qt::Key_S, "format-dialog"}, std::pair {Qt::Key_G, "source-dialog"}}) {
        const QString name = QString::fromLatin1(shot.second);
        const auto chooseByKey = [&] {
            whileUp(settingsMenu, popup, [&](QWidget *menu) { QTest::keyClick(menu, shot.first); });
        };
        whileUp(chooseByKey, modal, [&](QWidget *dialog) {
            QApplication::processEvents();
            save(dialog->grab(), folder, name, 1);
            save(composite({form, dialog}), folder, name + QStringLiteral("-over-window"), 1);
            dialog->close();
        });
        // The camera restarts after each dialog; the next picture shows its frames again.
        wait(600);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool menuShots = argc > 2 && std::string(argv[2]) == "menus";
    // The menus run on a profile of their own: a person's settings, stored pictures and shared
    // memory stay as they are.
    QTemporaryDir scratch;
    if (menuShots) {
        qputenv("VEDEREVE_REGISTRY",
                scratch.filePath(QStringLiteral("registry.sqlite")).toLocal8Bit());
        qputenv("VEDEREVE_SHM_PREFIX",
                "/vedereve-snapshot-" + QByteArray::number(::getpid()) + '-');
    }
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString folder = args.value(1, QStringLiteral("."));
    QDir().mkpath(folder);

    if (menuShots) {
        const int result = menus(folder, scratch);
        platform::shm::removeObject("dirUzevevav");
        platform::shm::removeObject("ridEvadezaz");
        return result;
    }

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
        QMouseEvent release(QEvent::MouseButtonRelease, at, play->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, {});
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
