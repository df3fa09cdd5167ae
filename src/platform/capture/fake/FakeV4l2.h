#pragma once

#include "platform/capture/FrameCodec.h"
#include "platform/capture/V4l2Io.h"

#include <algorithm>
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
// A device with a timed behaviour (FakeBehaviour) sends its frames by a clock, as a camera does:
// the first one late after each stream start, then at its frame interval with jitter, some of
// them damaged. Camera profiles (CameraProfile.h) describe such devices in data files.
// For tests and benchmarks only.
namespace platform::vfw::fake {

// A frame interval in seconds, as a fraction.
struct FakeInterval
{
    std::uint32_t numerator = 1;
    std::uint32_t denominator = 30;
};

struct FakeFormat
{
    std::uint32_t pixelFormat = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    // The intervals offered at each size, by the size's index; none: the device takes no
    // frame-rate request at that size and runs at 30 frames a second.
    std::vector<std::vector<FakeInterval>> intervals = {};
};

// Where a timed device's frames come from. A simulated clock moves only when waited on, so a
// test's camera seconds cost no real time.
class FakeClock
{
public:
    virtual ~FakeClock() = default;
    virtual std::uint64_t nowUs() = 0;
    // Returns at `us` (a simulated clock jumps there).
    virtual void waitUntil(std::uint64_t us) = 0;
};
std::shared_ptr<FakeClock> steadyClock();

class SimulatedClock final : public FakeClock
{
public:
    std::uint64_t nowUs() override { return m_now; }
    void waitUntil(std::uint64_t us) override { m_now = std::max(m_now, us); }
    void advanceMs(std::uint64_t ms) { m_now += ms * 1000; }

private:
    std::uint64_t m_now = 1000000;
};

// How a timed device sends its frames. Times in milliseconds of the device's clock.
struct FakeBehaviour
{
    bool timed = false; // frames by the clock; otherwise whenever the driver waits for one
    std::uint32_t firstFrameMs = 0; // after each stream start
    std::uint32_t frameIntervalMs = 0; // 0: the interval in force (requested or default)
    double jitter = 0; // each interval varies by up to this fraction either way
    int damagedAtStart = 0; // so many first frames after each stream start arrive damaged
    std::uint32_t damagedEvery = 0; // every so many frames one arrives damaged; 0 never
    std::uint32_t stallAfterMs = 0; // after the first stream start no frame comes; 0 never
    std::uint32_t unplugAfterMs = 0; // after the first stream start the device is gone; 0 never
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
    // The format the device is in when first opened; code 0: the first format at its first size.
    std::uint32_t currentFormat = 0;
    std::pair<std::uint32_t, std::uint32_t> currentSize {0, 0};
    bool busy = false; // another program streams from it
    FakeBehaviour behaviour;
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
    std::vector<FakeInterval> frameRateRequests; // every VIDIOC_S_PARM, as asked
    std::vector<std::uint32_t> formatRequests; // the code of every VIDIOC_S_FMT
    std::uint32_t streamStarts = 0;
    // Timed devices: when the first whole frame after the last stream start came; 0 none yet.
    std::uint64_t firstGoodFrameUs = 0;
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
    int parameters(unsigned long request, void *arg);
    const std::vector<FakeInterval> *offeredIntervals(std::uint32_t code, std::uint32_t w,
                                                      std::uint32_t h) const;
    // Timed devices: the frames due by now arrive; the behaviour's stall and unplug set in.
    void catchUp();
    std::uint64_t nextFrameUs(); // when the next frame is due
    std::uint64_t intervalUs();
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
    std::shared_ptr<FakeClock> m_clock;
    FakeInterval m_interval; // in force
    std::uint64_t m_firstStreamUs = 0; // 0: never streamed
    std::uint64_t m_nextFrameUs = 0;
    std::uint32_t m_timedFrames = 0;
    std::uint32_t m_random = 0x9E3779B9; // jitter, the same on every run
};

class FakeV4l2Io final : public V4l2Io
{
public:
    explicit FakeV4l2Io(std::shared_ptr<FakeClock> clock = steadyClock())
        : m_clock(std::move(clock))
    { }
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

    std::shared_ptr<FakeClock> m_clock;
    std::vector<std::unique_ptr<FakeDevice>> m_devices;
    std::map<int, FakeDevice *> m_open;
    int m_nextFd = 100;
    std::uint64_t m_nextIdentity = 1;
};

} // namespace platform::vfw::fake
