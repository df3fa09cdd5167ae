// Checks the machine's cameras by hand (docs/camera-check.md): for every driver index it prints
// the description and version, connects a capture window, prints the format the device is in,
// grabs 30 frames and saves the last one as camera-<index>.png in the folder given (default the
// temporary folder).
//   vedereve-camera-check [FOLDER]

#include "platform/capture/CaptureWindow.h"
#include "platform/capture/Drivers.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstring>

using namespace platform::vfw;

int main(int argc, char **argv)
{
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr,
                     "usage: vedereve-camera-check [FOLDER]\n");
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    QGuiApplication app(argc, argv);
    const QString folder = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    char name[128], version[128];
    for (std::uint16_t index = 0; capGetDriverDescriptionA(index, name, 128, version, 128);
         ++index) {
        std::printf("driver %u: \"%s\", version \"%s\"\n", index, name, version);
        const HWND hwnd = capCreateCaptureWindowA(name, 0, 0, 0, 176, 144, 0, 0);
        BITMAPINFOHEADER format {};
        if (SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, index, 0)
            && SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, sizeof format,
                            reinterpret_cast<std::intptr_t>(&format))) {
            const char *code = reinterpret_cast<const char *>(&format.biCompression);
            std::printf("    format %.4s, %d x %d, %u bits\n", format.biCompression ? code : "RGB ",
                        format.biWidth, format.biHeight, unsigned(format.biBitCount));
            int empty = 0;
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < 30; ++i)
                empty += SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0) ? 0 : 1;
            std::printf("    30 grabs, %d empty, %.1f ms per grab\n", empty,
                        double(timer.elapsed()) / 30.0);
            const QString path = folder + QStringLiteral("/camera-%1.png").arg(index);
            if (SendMessageA(hwnd, WM_CAP_EDIT_COPY, 0, 0)
                && QGuiApplication::clipboard()->image().save(path))
                std::printf("    last frame saved as %s\n", qPrintable(path));
        } else {
            std::printf("    does not connect (busy or gone)\n");
        }
        DestroyWindow(hwnd);
    }
    return 0;
}
