// Arbitrary bytes as a camera's frame, in the device format and size the first byte picks, through
// the driver's checks, the capture window, the frame callback, decompressor and frame bitmap.

#include "FuzzHarness.h"

#include <QGuiApplication>

#include <array>
#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "capture/CaptureSession.h"
#include "capture/clsImages.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/FormatTable.h"
#include "platform/capture/fake/FakeV4l2.h"

namespace {

using namespace platform::vfw;

// Any device code, at common sizes and small odd ones whose chroma and JPEG blocks end mid-row.
std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> formatFor(std::uint8_t choice)
{
    static const std::vector<std::uint32_t> codes = [] {
        std::vector<std::uint32_t> all;
        for (const FormatInfo &row : formatTable())
            for (const DeviceCode &device : row.devices)
                if (device.code != 0)
                    all.push_back(device.code);
        return all;
    }();
    constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 7> sizes {
        {{176, 144}, {320, 240}, {640, 480}, {32, 24}, {16, 8}, {17, 9}, {15, 7}}};
    const auto &[width, height] = sizes[choice % sizes.size()];
    return {codes[choice / sizes.size() % codes.size()], width, height};
}

struct Harness
{
    Harness()
    {
        setPipeWireConnection({PipeWireConnection::Mode::Off});
        CreateCapturedFrame();
    }

    // A camera offering only the format choice picks, connected through a capture session.
    CaptureSession &sessionFor(std::uint8_t choice)
    {
        const auto format = formatFor(choice);
        if (session && format == current)
            return *session;
        session.reset();
        io = std::make_shared<fake::FakeV4l2Io>();
        fake::FakeDeviceProfile profile = fake::uvcCamera("Fuzz Camera", 0);
        const auto &[code, width, height] = format;
        profile.formats = {{code, {{width, height}}}};
        device = &io->addDevice(profile);
        setV4l2Io(io);
        session = std::make_unique<CaptureSession>();
        session->connect(0, 0);
        session->negotiate(24); // the white board keeps the camera's size
        current = format;
        return *session;
    }

    QGuiApplication *app = fuzzharness::application<QGuiApplication>("fuzz_camera_frame");
    std::shared_ptr<fake::FakeV4l2Io> io;
    fake::FakeDevice *device = nullptr;
    std::unique_ptr<CaptureSession> session;
    std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> current;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    Harness &h = fuzzharness::once<Harness>();
    CaptureSession &session = h.sessionFor(data[0]);
    if (!session.CameraOn())
        return 0;
    h.device->payload.assign(data + 1, data + size);
    h.device->usePayload = true;
    h.device->deliverFrames(1);
    if (std::int32_t n = session.grab(); n > 0)
        session.takeFrame(n);
    return 0;
}
