#pragma once

#include "platform/capture/CaptureWindow.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/FrameCodec.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/capture/fake/FakeV4l2.h"

#include "jpeg/JpegTestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace capturetest {

using namespace platform::vfw;

// A fake device layer without devices, virtual cameras or PipeWire: the machine's never show up.
class CaptureTest : public ::testing::Test
{
protected:
    CaptureTest() : io(std::make_shared<fake::FakeV4l2Io>())
    {
        setV4l2Io(io);
        VirtualCameras::configure({});
        setPipeWireConnection({PipeWireConnection::Mode::Off});
    }
    ~CaptureTest() override
    {
        for (HWND hwnd : windows)
            DestroyWindow(hwnd);
        setDriverDialogs(nullptr);
        VirtualCameras::reset();
        setV4l2Io(nullptr);
        setPipeWireConnection({});
    }

    // A camera node and its metadata node, as a USB camera brings them.
    fake::FakeDevice &addCamera(const std::string &card, int n)
    {
        fake::FakeDevice &camera = io->addDevice(fake::uvcCamera(card, n));
        io->addDevice(fake::uvcMetadataNode(camera.profile, n));
        return camera;
    }

    // A window connected to driver index; fails the test when it does not connect.
    HWND connected(int index = 0)
    {
        windows.push_back(capCreateCaptureWindowA("test", 0, 0, 0, 176, 144, 0, 0));
        EXPECT_EQ(SendMessageA(windows.back(), WM_CAP_DRIVER_CONNECT, index, 0), 1);
        return windows.back();
    }

    std::shared_ptr<fake::FakeV4l2Io> io;
    std::vector<HWND> windows;
};

inline std::vector<std::string> driverNames()
{
    std::vector<std::string> names;
    for (const DriverEntry &d : captureDrivers())
        names.push_back(d.description.name);
    return names;
}

inline std::intptr_t address(const void *p)
{
    return reinterpret_cast<std::intptr_t>(p);
}

// The blue, green and red bytes of pixel x in memory row row of a 24-bit bottom-up bitmap.
struct Bgr
{
    int b, g, r;
};
inline Bgr pixel(const std::uint8_t *bits, int width, int row, int x)
{
    const std::uint8_t *p = bits + std::size_t(row) * dibStride(width, 24) + 3 * x;
    return {p[0], p[1], p[2]};
}
inline bool near(Bgr a, Bgr b)
{
    return std::abs(a.b - b.b) <= 24 && std::abs(a.g - b.g) <= 24 && std::abs(a.r - b.r) <= 24;
}
constexpr Bgr kRed {0x20, 0x20, 0xE0};
constexpr Bgr kBlue {0xE0, 0x20, 0x20};

inline PictureView viewOf(const QImage &picture)
{
    return {picture.constBits(), picture.width(), picture.height(), int(picture.bytesPerLine())};
}

// A frame of format showing a red top and a blue bottom.
inline std::vector<std::uint8_t> bandsFrame(const VideoFormat &format)
{
    std::vector<std::uint8_t> frame;
    const QImage picture = jpegtest::testPicture(format.width, format.height);
    EXPECT_TRUE(FrameEncoder().encode(format, viewOf(picture), frame));
    return frame;
}

using jpegtest::GuardedBuffer;

} // namespace capturetest
