#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <unistd.h>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "base/DebugTrace.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/core/System.h"
#include "platform/core/TraceSink.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"
#include "support/TestEnvironment.h"

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Drives a shown panel as a person does: mouse events through the form's window, menus and dialogs
// from inside their modal loops.
namespace paneltest {

inline void save(const QString &key, const QString &value)
{
    CRegSettings().SaveSetting(QStringLiteral("Defaults"), key, value);
}

inline QString setting(const QString &key)
{
    return CRegSettings().GetSetting(QStringLiteral("Defaults"), key, QString());
}

// A press, release or click at point, in the coordinates of widget.
inline void mouseAt(QTest::MouseAction action, QWidget *widget, QPoint point,
                    Qt::MouseButton button = Qt::LeftButton)
{
    QWidget *top = widget->window();
    QTest::mouseEvent(action, top->windowHandle(), button, {}, widget->mapTo(top, point));
}

// Runs open() and user on the menu or modal dialog W it shows; true when user ran.
template<class W>
bool whileShown(const std::function<void()> &open, const std::function<void(W &)> &user)
{
    bool ran = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (W *widget
            = qobject_cast<W *>(std::is_base_of_v<QMenu, W> ? QApplication::activePopupWidget()
                                                            : QApplication::activeModalWidget())) {
            poll.stop();
            ran = true;
            user(*widget);
            while (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
        }
    });
    poll.start(5);
    open();
    return ran;
}

// A menu action's text as a person reads it, without the access key's ampersand.
inline QString plain(QString text)
{
    return text.replace(QStringLiteral("&&"), QStringLiteral("\1"))
        .remove(u'&')
        .replace(u'\1', u'&');
}

// "[x] checked | - | disabled (off) | &submenu > | disabled (off: its own tool tip)"
inline QString describe(const QMenu &menu)
{
    QStringList entries;
    for (const QAction *action : menu.actions()) {
        const QString tip = action->toolTip();
        const bool ownTip = tip != plain(action->text()).remove(QStringLiteral("...")).trimmed();
        entries << (action->isChecked() ? QStringLiteral("[x] ") : QString())
                + (action->isSeparator() ? QStringLiteral("-") : action->text())
                + (action->menu() ? QStringLiteral(" >") : QString())
                + (action->isEnabled() ? QString()
                       : ownTip        ? QStringLiteral(" (off: ") + tip + u')'
                                       : QStringLiteral(" (off)"));
    }
    return entries.join(QStringLiteral(" | "));
}

inline QAction *actionOf(const QMenu &menu, const QString &caption)
{
    for (QAction *action : menu.actions())
        if (plain(action->text()) == caption)
            return action;
    ADD_FAILURE() << "no " << caption.toStdString() << " in " << describe(menu).toStdString();
    return nullptr;
}

// Opens the submenus along path with the keyboard, then clicks the last entry.
inline void choose(QMenu &menu, const QStringList &path)
{
    QMenu *current = &menu;
    for (qsizetype i = 0; i + 1 < path.size() && current; ++i) {
        QAction *header = actionOf(*current, path[i]);
        current->setActiveAction(header);
        QTest::keyClick(current, Qt::Key_Right);
        current = header ? header->menu() : nullptr;
    }
    if (QAction *action = current ? actionOf(*current, path.last()) : nullptr)
        QTest::mouseClick(current, Qt::LeftButton, {}, current->actionGeometry(action).center());
}

inline long residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    return statm.open(QIODevice::ReadOnly)
        ? statm.readAll().split(' ').value(1).toLong() * ::sysconf(_SC_PAGESIZE)
        : 0;
}

inline platform::vfw::VirtualCameraConfig camera(int width = 176, int height = 144,
                                                 std::string name = {})
{
    return {std::move(name), {{platform::vfw::BI_RGB, 24, width, height}}};
}

// A shown, expanded component on virtual cameras; device 0 chosen unless saved or none given.
class PanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::removeRegistry();
        platform::vfw::setPipeWireConnection({platform::vfw::PipeWireConnection::Mode::Off});
    }
    void TearDown() override
    {
        object.reset();
        platform::vfw::VirtualCameras::reset();
        platform::vfw::setPipeWireConnection({});
        platform::vfw::setV4l2Io(nullptr);
        platform::setTickCountSource(nullptr);
        DebugTrace::setDebugFlag(false);
        platform::TraceSink::stopCapture();
        // Every way out of a camera start restores the pointer.
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
    void start(int tab = 1, std::vector<platform::vfw::VirtualCameraConfig> cameras = {{}},
               const char *device = "0")
    {
        object.reset(); // the cameras change under no panel
        platform::vfw::VirtualCameras::configure(std::move(cameras));
        if (device && setting(QStringLiteral("WebCamDevice")).isEmpty())
            save(QStringLiteral("WebCamDevice"), QString::fromLatin1(device));
        object = std::make_unique<zozEZUdeZid>();
        QObject::connect(object->events(), &zozEZUdeZidEvents::EraseWebCam, [this] { ++erased; });
        panel = object->form()->WebCam();
        view = std::make_unique<PanelTestAccess>(panel);
        object->Show();
        object->Maximize();
        object->setCurrentTab(tab);
    }
    void click(const char *name, Qt::MouseButton button = Qt::LeftButton)
    {
        mouseAt(QTest::MouseClick, view->widget(name), QPoint(5, 5), button);
    }
    QString caption(const char *label) const { return view->label(label)->Caption(); }
    // A block written, announced and closed at once, as a parent does; shown: the queue ticked.
    void handOver(std::span<const std::uint8_t> bytes, const QString &name = "Ann",
                  const QString &location = "Oslo", bool shown = true)
    {
        const auto block
            = modImageMemMapFunctions::ImageBlock::create(++blockNumber, qint64(bytes.size()));
        ASSERT_TRUE(block);
        std::memcpy(block.MapView(), bytes.data(), bytes.size());
        object->UpdateParticipant(blockNumber, name, location);
        if (shown)
            view->tickQueue();
    }
    // '#' or '.' per band of the preview (five rows, then a text line each) up to the last ink.
    std::string inkedLines() const
    {
        const QImage image = view->box("picWebCam")->Image();
        const int line = QFontMetrics(view->box("picWebCam")->Font).height();
        std::string bands;
        for (int top = 0; top < image.height(); top = top == 0 ? 5 : top + line) {
            bool ink = false;
            for (int y = top; y < std::min(top == 0 ? 5 : top + line, image.height()); ++y)
                for (int x = 0; x < image.width(); ++x)
                    ink = ink || qGray(image.pixel(x, y)) < 128;
            bands += ink ? '#' : '.';
        }
        return bands.substr(0, bands.find_last_of('#') + 1);
    }
    // Opens control's menu (settings: left button, context menus: right) and hands it to user.
    bool withMenu(const char *control, const std::function<void(QMenu &)> &user)
    {
        const bool left = QByteArrayView(control) == "picSettingsMain";
        return whileShown<QMenu>([&] { click(control, left ? Qt::LeftButton : Qt::RightButton); },
                                 user);
    }
    void command(const char *control, const QStringList &path)
    {
        withMenu(control, [&](QMenu &menu) { choose(menu, path); });
    }
    // The menu of control, or its submenu named, as text; empty when none opens.
    QString menuOf(const char *control, const QString &submenu = {})
    {
        QString text;
        withMenu(control, [&](QMenu &menu) {
            text = describe(submenu.isEmpty() ? menu : *actionOf(menu, submenu)->menu());
        });
        return text;
    }

    std::unique_ptr<zozEZUdeZid> object;
    cveDerEve *panel = nullptr;
    std::unique_ptr<PanelTestAccess> view;
    std::int32_t blockNumber = 7000; // the last participant block's
    int erased = 0; // EraseWebCam events the parent had
};

} // namespace paneltest
