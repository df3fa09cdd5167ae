#pragma once

#include "platform/capture/FrameCodec.h"
#include "platform/capture/V4l2Io.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A scriptable stand-in for Video4Linux devices behind the single ioctl entry point, modelled on
// what USB video class cameras report: a camera node and its metadata node, YUYV and MJPG at
// several sizes, controls with ranges and menus, bus names and by-id names. It behaves like the
// kernel where that matters to a driver (EBUSY for a format change while buffers exist, for
// freeing buffers that are still mapped, ENODEV after an unplug) and records what it was asked.
// For tests and benchmarks only.
namespace platform::vfw::fake {

struct FakeFormat
{
    std::uint32_t pixelFormat = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
};

struct FakeControl
{
    std::uint32_t id = 0;
    std::string name;
    std::uint32_t type = 0; // V4L2_CTRL_TYPE_*
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1;
    std::int32_t defaultValue = 0;
    std::vector<std::string> items; // menu entries, index = value; empty ones are not offered
    std::uint32_t flags = 0;
};

struct FakeDeviceProfile
{
    std::string devicePath;
    std::string byIdName;
    std::string byPathName;
    std::string card;
    std::string driver = "uvcvideo";
    std::string busInfo;
    std::uint32_t version = 0x060100; // 6.1.0
    bool metadataNode = false;
    std::uint32_t linePadding = 0; // bytes after each row of raw frames
    std::vector<FakeFormat> formats;
    std::vector<FakeControl> controls;
};

// Frames (in any format of the format table) show three bands, red over green over blue. A typical
// camera node (YUYV up to 1280 x 720, MJPG up to 1920 x 1080, seven controls) and the metadata node
// that comes with it; n tells the ports and /dev numbers apart.
FakeDeviceProfile uvcCamera(const std::string &card, int n);
FakeDeviceProfile uvcMetadataNode(const FakeDeviceProfile &camera, int n);

class FakeDevice
{
public:
    explicit FakeDevice(FakeDeviceProfile profile, std::uint64_t identity);

    FakeDeviceProfile profile;
    std::uint64_t identity;

    // Script.
    bool busyOnOpen = false; // open fails with EBUSY
    bool busy = false; // another program streams: S_FMT, REQBUFS, STREAMON fail with EBUSY
    // Requests that fail with an errno of their own, as a USB camera short of bandwidth refuses
    // buffers or the stream start with ENOSPC.
    std::map<unsigned long, int> refusals;
    bool stalled = false; // no frame arrives
    bool autoFrames = true; // a frame arrives whenever the driver waits for one
    int damagedJpegFrames = 0; // so many next MJPG frames arrive cut short
    int shortRawFrames = 0; // so many next raw frames arrive with half their bytes
    int errorFrames = 0; // so many next frames carry the error flag
    bool unplugged = false;
    // When set, frames carry these bytes (cut to the buffer) instead of the device's picture,
    // as a broken or hostile camera could send them.
    std::vector<std::uint8_t> payload;
    bool usePayload = false;
    void unplug() { unplugged = true; }
    // n frames arrive now, as far as queued buffers allow. Raw frames carry their sequence
    // number (from 1) in their first four bytes.
    void deliverFrames(int n);

    // Observations.
    int lastPollTimeoutMs = -1;
    std::uint32_t framesDelivered = 0;
    std::uint32_t pixelFormat = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::map<std::uint32_t, std::int32_t> controlValues;
    bool streaming = false;
    std::size_t mappedBuffers = 0;

    // A whole frame of the current format as the device sends it (MJPG without Huffman tables
    // and with zero padding, as cameras do).
    const std::vector<std::uint8_t> &framePicture() const { return m_picture; }

private:
    friend class FakeV4l2Io;
    struct Buffer
    {
        std::vector<std::uint8_t> memory;
        std::uint32_t bytesUsed = 0;
        std::uint32_t sequence = 0;
        std::uint32_t flags = 0;
        std::uint32_t contentVersion = 0; // m_pictureVersion the memory holds
    };

    int ioctl(unsigned long request, void *arg);
    int setFormat(void *arg);
    void makePicture();
    const FormatInfo *formatInfo() const; // nullptr for a code the format table lacks
    std::uint32_t bytesPerLine() const;
    std::uint32_t sizeImage() const;

    std::vector<Buffer> m_buffers;
    std::deque<std::uint32_t> m_queued; // waiting for the camera
    std::deque<std::uint32_t> m_done; // filled, waiting for the driver
    std::vector<std::uint8_t> m_picture;
    std::uint32_t m_pictureVersion = 0;
    FrameEncoder m_encoder;
};

class FakeV4l2Io final : public V4l2Io
{
public:
    FakeDevice &addDevice(FakeDeviceProfile profile);
    FakeDevice &device(std::size_t index) { return *m_devices.at(index); }
    // The node is re-created under another /dev name, as after a re-plug or a reboot.
    void renumber(std::size_t index, const std::string &devicePath);
    std::size_t openDescriptors() const { return m_open.size(); }

    std::vector<V4l2Node> listNodes() override;
    int open(const std::string &devicePath) override;
    void close(int fd) override;
    void *mmap(int fd, std::size_t length, off_t offset) override;
    void munmap(void *address, std::size_t length) override;
    int poll(int fd, int timeoutMs) override;

protected:
    int ioctlOnce(int fd, unsigned long request, void *arg) override;

private:
    FakeDevice *deviceOf(int fd);

    std::vector<std::unique_ptr<FakeDevice>> m_devices;
    std::map<int, FakeDevice *> m_open;
    int m_nextFd = 100;
    std::uint64_t m_nextIdentity = 1;
};

} // namespace platform::vfw::fake
