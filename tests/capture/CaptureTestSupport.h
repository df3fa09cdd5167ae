#pragma once

#include "platform/capture/CaptureWindow.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/capture/fake/FakeV4l2.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace capturetest {

using namespace platform::vfw;

// Every test starts from a device layer it owns: a fake with no devices and no virtual cameras,
// so that whatever the machine has never shows up.
class CaptureTest : public ::testing::Test
{
protected:
    CaptureTest() : io(std::make_shared<fake::FakeV4l2Io>())
    {
        setV4l2Io(io);
        VirtualCameras::configure({});
    }
    ~CaptureTest() override
    {
        for (HWND hwnd : windows)
            DestroyWindow(hwnd);
        setDriverDialogs(nullptr);
        VirtualCameras::reset();
        setV4l2Io(nullptr);
    }

    // A camera node and its metadata node, as a USB camera brings them.
    fake::FakeDevice &addCamera(const std::string &card, int n)
    {
        fake::FakeDevice &camera = io->addDevice(fake::uvcCamera(card, n));
        io->addDevice(fake::uvcMetadataNode(camera.profile, n));
        return camera;
    }

    HWND newWindow()
    {
        const HWND hwnd = capCreateCaptureWindowA("test", 0, 0, 0, 176, 144, 0, 0);
        windows.push_back(hwnd);
        return hwnd;
    }

    // A window connected to driver index; fails the test when it does not connect.
    HWND connected(int index = 0)
    {
        const HWND hwnd = newWindow();
        EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, index, 0), 1);
        return hwnd;
    }

    std::shared_ptr<fake::FakeV4l2Io> io;
    std::vector<HWND> windows;
};

inline std::vector<std::string> driverNames(const std::vector<DriverEntry> &drivers)
{
    std::vector<std::string> names;
    names.reserve(drivers.size());
    for (const DriverEntry &d : drivers)
        names.push_back(d.description.name);
    return names;
}

inline std::intptr_t address(const void *p)
{
    return reinterpret_cast<std::intptr_t>(p);
}

inline BITMAPINFOHEADER videoFormat(HWND hwnd)
{
    BITMAPINFOHEADER header {};
    SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, sizeof header, address(&header));
    return header;
}

inline std::intptr_t setVideoFormat(HWND hwnd, std::uint32_t compression, int bits, int w, int h)
{
    BITMAPINFO info {};
    info.bmiHeader.biCompression = compression;
    info.bmiHeader.biBitCount = std::uint16_t(bits);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    return SendMessageA(hwnd, WM_CAP_SET_VIDEOFORMAT, sizeof info, address(&info));
}

// The blue, green and red bytes of pixel x in memory row row of a 24-bit bottom-up bitmap.
struct Bgr
{
    int b, g, r;
};
inline Bgr pixel(const std::uint8_t *bits, int width, int row, int x)
{
    const std::uint8_t *p = bits + std::size_t(row) * ((width * 3 + 3) & ~3) + 3 * x;
    return {p[0], p[1], p[2]};
}
inline bool near(Bgr a, Bgr b, int tolerance = 24)
{
    return std::abs(a.b - b.b) <= tolerance && std::abs(a.g - b.g) <= tolerance
        && std::abs(a.r - b.r) <= tolerance;
}

// An output buffer with guard bytes after the part a decoder may write.
struct GuardedBuffer
{
    static constexpr std::size_t kGuard = 64;
    static constexpr std::uint8_t kPattern = 0xA5;

    explicit GuardedBuffer(std::size_t size) : bytes(size + kGuard, kPattern), usable(size) { }
    std::span<std::uint8_t> span() { return {bytes.data(), usable}; }
    bool guardIntact() const
    {
        for (std::size_t i = usable; i < bytes.size(); ++i) {
            if (bytes[i] != kPattern)
                return false;
        }
        return true;
    }
    bool untouched() const
    {
        for (std::uint8_t b : bytes) {
            if (b != kPattern)
                return false;
        }
        return true;
    }

    std::vector<std::uint8_t> bytes;
    std::size_t usable;
};

} // namespace capturetest
