#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/V4l2Io.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Cameras through Video4Linux: memory-mapped streaming, the freshest frame on each grab.
namespace platform::vfw {

// What a node says about itself (VIDIOC_QUERYCAP).
struct V4l2DeviceInfo
{
    std::string driver;
    std::string card;
    std::string busInfo;
    std::uint32_t version = 0; // kernel version, KERNEL_VERSION() packed
    bool canCapture = false; // a video capture node (not metadata, output, radio...)
};

std::optional<V4l2DeviceInfo> probeV4l2Node(V4l2Io &io, const std::string &devicePath);

struct DriverDescription
{
    std::string name;
    std::string version;
};

// A USB video class camera carries the standard camera driver's description after its name, so
// that software looking for "the standard camera" finds it; other devices go by their name.
DriverDescription describeV4l2Device(const V4l2DeviceInfo &info);

// A set of memory-mapped streaming buffers, queued and streaming while it lives. Move-only.
class V4l2BufferSet final
{
public:
    V4l2BufferSet() = default;
    ~V4l2BufferSet() { reset(); }
    V4l2BufferSet(V4l2BufferSet &&other) noexcept;
    V4l2BufferSet &operator=(V4l2BufferSet &&other) noexcept;
    V4l2BufferSet(const V4l2BufferSet &) = delete;
    V4l2BufferSet &operator=(const V4l2BufferSet &) = delete;

    // Requests count buffers on fd, maps and queues them and starts streaming. 0 or a negative
    // errno (-EBUSY when another program streams from the device).
    static int start(std::shared_ptr<V4l2Io> io, int fd, unsigned count, V4l2BufferSet &out);

    bool isValid() const { return !m_buffers.empty(); }
    std::size_t count() const { return m_buffers.size(); }
    std::span<const std::uint8_t> buffer(std::size_t index) const
    {
        return {static_cast<const std::uint8_t *>(m_buffers[index].address),
                m_buffers[index].length};
    }
    // Stops streaming, unmaps and frees the buffers. With a device that is gone only the
    // mappings are dropped.
    void reset();

private:
    struct Mapping
    {
        void *address = nullptr;
        std::size_t length = 0;
    };

    std::shared_ptr<V4l2Io> m_io;
    int m_fd = -1;
    std::vector<Mapping> m_buffers;
};

class V4l2Driver final : public CaptureDriver
{
public:
    V4l2Driver(std::shared_ptr<V4l2Io> io, std::string devicePath);
    ~V4l2Driver() override;

    int connect() override;
    void disconnect() override;
    bool isConnected() const override { return m_fd.isValid() || m_lost; }

    std::vector<VideoFormat> formats() const override;
    VideoFormat format() const override { return m_format; }
    int setFormat(const VideoFormat &wanted) override;
    GrabbedFrame grab() override;

    std::vector<DriverControl> controls() const override { return m_controls; }
    std::optional<std::int32_t> control(std::uint32_t id) const override;
    int setControl(std::uint32_t id, std::int32_t value) override;

    // Buffers requested from the device: one is held for the frame last handed out, the others
    // stay with the camera so it never waits for us.
    static constexpr unsigned kBufferCount = 4;

private:
    struct Offer
    {
        VideoFormat format;
        std::uint32_t deviceCode = 0;
    };

    void enumerateFormats();
    void enumerateControls();
    int applyFormat(const Offer &offer);
    int startStreaming();
    void requeueHeld();
    int dequeue(std::uint32_t &index, std::uint32_t &bytesUsed, bool &damaged);
    int requeue(std::uint32_t index);
    GrabbedFrame deliver(std::uint32_t index, std::uint32_t bytesUsed);
    // Failures that mean the device is gone end streaming for good; true when that happened.
    bool lostOn(int error);

    std::shared_ptr<V4l2Io> m_io;
    std::string m_devicePath;
    V4l2Fd m_fd;
    std::vector<Offer> m_offers;
    std::vector<DriverControl> m_controls;
    VideoFormat m_format;
    DeviceFormat m_device;
    std::uint32_t m_bytesPerLine = 0;
    V4l2BufferSet m_buffers;
    int m_held = -1; // buffer index handed out by the last grab
    bool m_lost = false;
    std::vector<std::uint8_t> m_converted;
    std::chrono::steady_clock::time_point m_connectedAt;
};

} // namespace platform::vfw
