#include "SyntheticClick.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <memory>

namespace {

struct DisplayCloser
{
    void operator()(Display *display) const { XCloseDisplay(display); }
};
using UniqueDisplay = std::unique_ptr<Display, DisplayCloser>;

// Xlib reports a bad window id through an error handler that ends the process by default.
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

bool clickInWindow(std::uint32_t window, int x, int y, QString *error)
{
    // A connection of our own: Qt's may be of another kind (xcb) or absent (offscreen).
    const UniqueDisplay display(XOpenDisplay(nullptr));
    if (!display) {
        *error = QStringLiteral("no X display");
        return false;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor)) {
        *error = QStringLiteral("the X server has no test extension");
        return false;
    }
    const auto previous = XSetErrorHandler(ignoreXError);
    int rootX = 0, rootY = 0;
    Window child = 0;
    const Window root = DefaultRootWindow(display.get());
    // Translating through the server gives the point where it is on the screen now, whatever
    // a window manager did with the window.
    const Bool onScreen
        = XTranslateCoordinates(display.get(), Window(window), root, x, y, &rootX, &rootY, &child);
    XSync(display.get(), False);
    XSetErrorHandler(previous);
    if (!onScreen) {
        *error = QStringLiteral("window 0x%1 is not on this screen").arg(window, 0, 16);
        return false;
    }
    XTestFakeMotionEvent(display.get(), -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display.get(), Button1, True, CurrentTime);
    // A short press, as a hand makes it.
    XTestFakeButtonEvent(display.get(), Button1, False, 40);
    XSync(display.get(), False);
    return true;
}
