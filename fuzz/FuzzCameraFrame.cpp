// Feeds arbitrary bytes to the component as a camera's frame: a camera device (the test fake
// behind the single ioctl entry point) delivers them in the device format and size the first
// byte picks (any device code of the format table), and they travel the road of every frame:
// the driver's checks, the capture window, the frame callback into the frame record, the
// decompressor and the copy into the frame bitmap.

#include <QGuiApplication>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "capture/CaptureSession.h"
#include "capture/clsImages.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/FormatTable.h"
#include "platform/capture/fake/FakeV4l2.h"

namespace {

using namespace platform::vfw;

// The first byte picks a device code of the format table and a size.
struct Format
{
    std::uint32_t pixelFormat;
    std::uint32_t width, height;
};

Format formatFor(std::uint8_t choice)
{
    static const std::vector<std::uint32_t> codes = [] {
        std::vector<std::uint32_t> all;
        for (const FormatInfo &row : formatTable()) {
            for (const DeviceCode &device : row.devices) {
                if (device.code != 0)
                    all.push_back(device.code);
            }
        }
        return all;
    }();
    constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 3> sizes {
        {{176, 144}, {320, 240}, {640, 480}}};
    const auto &[width, height] = sizes[choice % sizes.size()];
    return {codes[choice / sizes.size() % codes.size()], width, height};
}

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
        setPipeWireConnection({PipeWireConnection::Mode::Off});
        CreateCapturedFrame();
    }

    // A camera offering only the format choice picks, connected through a capture session.
    CaptureSession &sessionFor(std::uint8_t choice)
    {
        const Format f = formatFor(choice);
        if (session && f.pixelFormat == current.pixelFormat && f.width == current.width
            && f.height == current.height)
            return *session;
        session.reset();
        io = std::make_shared<fake::FakeV4l2Io>();
        fake::FakeDeviceProfile profile = fake::uvcCamera("Fuzz Camera", 0);
        profile.formats = {{f.pixelFormat, {{f.width, f.height}}}};
        device = &io->addDevice(profile);
        setV4l2Io(io);
        session = std::make_unique<CaptureSession>();
        session->connect(0, 0);
        session->negotiate(24); // the white board keeps the camera's size
        current = f;
        return *session;
    }

    QGuiApplication *app = nullptr;
    std::shared_ptr<fake::FakeV4l2Io> io;
    fake::FakeDevice *device = nullptr;
    std::unique_ptr<CaptureSession> session;
    Format current {};
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
    CaptureSession &session = h.sessionFor(data[0]);
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
