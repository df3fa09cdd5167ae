// Feeds arbitrary bytes to the component as a camera's frame: a camera device (the test fake
// behind the single ioctl entry point) delivers them in the format the first byte picks, and
// they travel the road of every frame: the driver's checks, the capture window, the frame
// callback into the frame record, the decompressor and the copy into the frame bitmap.

#include <QGuiApplication>

#include <array>
#include <cstdint>
#include <memory>

#include <linux/videodev2.h>

#include "capture/CaptureSession.h"
#include "capture/clsImages.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/fake/FakeV4l2.h"

namespace {

using namespace platform::vfw;

struct Format
{
    std::uint32_t pixelFormat;
    std::uint32_t width, height;
};
constexpr std::array kFormats = {
    Format {V4L2_PIX_FMT_MJPEG, 176, 144}, Format {V4L2_PIX_FMT_MJPEG, 640, 480},
    Format {V4L2_PIX_FMT_YUYV, 176, 144},  Format {V4L2_PIX_FMT_YUYV, 320, 240},
    Format {V4L2_PIX_FMT_RGB24, 176, 144},
};

struct Harness
{
    Harness()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_camera_frame";
        static char *argv[] = {name, nullptr};
        app = new QGuiApplication(argc, argv);
        io = std::make_shared<fake::FakeV4l2Io>();
        setV4l2Io(io);
        CreateCapturedFrame();
    }

    // A camera offering only format, connected through a capture session.
    CaptureSession &sessionFor(std::size_t index)
    {
        if (index == current && session)
            return *session;
        session.reset();
        io = std::make_shared<fake::FakeV4l2Io>();
        fake::FakeDeviceProfile profile = fake::uvcCamera("Fuzz Camera", 0);
        const Format &f = kFormats[index];
        profile.formats = {{f.pixelFormat, {{f.width, f.height}}}};
        device = &io->addDevice(profile);
        setV4l2Io(io);
        session = std::make_unique<CaptureSession>();
        session->connect(0, 0);
        session->negotiate(24); // the white board keeps the camera's size
        current = index;
        return *session;
    }

    QGuiApplication *app = nullptr;
    std::shared_ptr<fake::FakeV4l2Io> io;
    fake::FakeDevice *device = nullptr;
    std::unique_ptr<CaptureSession> session;
    std::size_t current = ~std::size_t(0);
};

Harness &harness()
{
    // Never destroyed: libFuzzer exits without unwinding.
    static Harness *h = new Harness();
    return *h;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    Harness &h = harness();
    CaptureSession &session = h.sessionFor(data[0] % kFormats.size());
    if (!session.CameraOn())
        return 0;
    h.device->payload.assign(data + 1, data + size);
    h.device->usePayload = true;
    h.device->deliverFrames(1);
    std::int32_t n = session.grab();
    if (n > 0)
        session.takeFrame(n);
    return 0;
}
