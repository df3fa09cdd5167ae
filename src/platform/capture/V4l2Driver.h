#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/DeviceList.h"
#include "platform/capture/V4l2Io.h"

#include <chrono>
#include <cstdint>
#include <linux/videodev2.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct v4lconvert_data;

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
    std::vector<PictureKind> formatKinds; // what the pictures of each format it offers show
};

std::optional<V4l2DeviceInfo> probeV4l2Node(V4l2Io &io, const std::string &devicePath);

// A camera node for the device list: named by its card, identified by its persistent by-id name
// (else by-path, else bus and card), attached at its bus port; a USB video class node is a
// standard camera.
DeviceDescriptor describeV4l2Camera(std::shared_ptr<V4l2Io> io, const V4l2Node &node,
                                    const V4l2DeviceInfo &info);

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

// The conversion library over one open node, driven through the node's V4l2Io. Move-only.
class V4l2Converter final
{
public:
    V4l2Converter() = default;
    V4l2Converter(std::shared_ptr<V4l2Io> io, int fd);
    ~V4l2Converter();
    V4l2Converter(V4l2Converter &&other) noexcept;
    V4l2Converter &operator=(V4l2Converter &&other) noexcept;
    V4l2Converter(const V4l2Converter &) = delete;
    V4l2Converter &operator=(const V4l2Converter &) = delete;

    bool isValid() const { return m_data != nullptr; }
    // A frame in the device's format into top-down 24-bit rows (blue, green, red) of out, which
    // holds width x 3 x height bytes. False when the frame cannot be converted.
    bool toBgr(const v4l2_pix_format &device, std::span<const std::uint8_t> frame,
               std::span<std::uint8_t> out);

private:
    std::shared_ptr<V4l2Io> m_io; // kept alive for the library's calls
    ::v4lconvert_data *m_data = nullptr;
    std::vector<std::uint8_t> m_input; // the library takes a writable source
};

// The frame interval to ask a camera for among those it offers (as fractions of a second): the
// longest one that still gives 15 frames a second, else the shortest. The capture timer takes a
// frame every 160 ms or so; 15 frames a second put a fresh one within 67 ms of every tick and
// leave the camera long exposures in low light. Nothing when nothing is offered.
struct FrameInterval
{
    std::uint32_t numerator = 0;
    std::uint32_t denominator = 0;
};
std::optional<FrameInterval> preferredInterval(std::span<const FrameInterval> offered);

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
    bool lost() const override { return m_lost; }

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
    void requestFrameRate();
    int startStreaming();
    void requeueHeld();
    int dequeue(std::uint32_t &index, std::uint32_t &bytesUsed, bool &damaged);
    int requeue(std::uint32_t index);
    GrabbedFrame deliver(std::uint32_t index, std::uint32_t bytesUsed);
    std::uint32_t capturedMs() const;
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
    v4l2_pix_format m_devicePix {}; // the device's format as it answered
    V4l2Converter m_converter; // for formats the conversion library turns into rows
    V4l2BufferSet m_buffers;
    int m_held = -1; // buffer index handed out by the last grab
    bool m_lost = false;
    std::vector<std::uint8_t> m_converted;
    std::vector<std::uint8_t> m_convertedRows; // the conversion library's top-down rows
    std::chrono::steady_clock::time_point m_connectedAt;
};

} // namespace platform::vfw
