#include "platform/capture/fake/FakeV4l2.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <tuple>

namespace platform::vfw::fake {

namespace {

constexpr std::uint32_t kBufferSpacing = 0x1000000; // mmap offsets of the buffers

// Takes the address rather than a reference: some of the kernel's structures are packed.
void copyName(void *target, std::size_t size, const std::string &text)
{
    std::memset(target, 0, size);
    std::memcpy(target, text.data(), std::min(text.size(), size - 1));
}

// Three bands, red over green over blue, as 32-bit pixels (blue, green, red, unused).
std::vector<std::uint32_t> bands(std::uint32_t w, std::uint32_t h)
{
    std::vector<std::uint32_t> pixels(std::size_t(w) * h);
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint32_t colour = y < h / 3 ? 0xFFE02020
            : y < 2 * h / 3                    ? 0xFF20E020
                                               : 0xFF2020E0;
        std::fill_n(pixels.begin() + std::ptrdiff_t(std::size_t(y) * w), w, colour);
    }
    return pixels;
}

// Cameras leave the Huffman tables out of their frames and rely on the standard ones.
std::vector<std::uint8_t> withoutHuffmanTables(const std::vector<std::uint8_t> &stream)
{
    const std::uint8_t *jpeg = stream.data();
    const std::size_t size = stream.size();
    if (size < 2)
        return {};
    std::vector<std::uint8_t> out(jpeg, jpeg + 2);
    std::size_t pos = 2;
    while (pos + 4 <= size && jpeg[pos] == 0xFF) {
        const std::uint8_t marker = jpeg[pos + 1];
        if (marker == 0xDA) {
            out.insert(out.end(), jpeg + pos, jpeg + size);
            return out;
        }
        const std::size_t length = std::size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        if (marker != 0xC4)
            out.insert(out.end(), jpeg + pos, jpeg + pos + 2 + length);
        pos += 2 + length;
    }
    return out;
}

// Device codes the conversion library turns into rows: the fake sends their bytes itself.
// Bytes per pixel, and for Bayer codes the colour (0 red, 1 green, 2 blue) at the four places of
// the 2 x 2 pattern, row by row.
struct ConvertedCode
{
    std::uint32_t code;
    std::uint32_t bytes;
    std::array<int, 4> pattern; // {-1, ...}: greyscale
};
constexpr ConvertedCode kConvertedCodes[] = {
    {V4L2_PIX_FMT_GREY, 1, {-1, -1, -1, -1}}, {V4L2_PIX_FMT_Y16, 2, {-1, -1, -1, -1}},
    {V4L2_PIX_FMT_SBGGR8, 1, {2, 1, 1, 0}},   {V4L2_PIX_FMT_SGBRG8, 1, {1, 2, 0, 1}},
    {V4L2_PIX_FMT_SGRBG8, 1, {1, 0, 2, 1}},   {V4L2_PIX_FMT_SRGGB8, 1, {0, 1, 1, 2}},
};

const ConvertedCode *convertedCode(std::uint32_t code)
{
    for (const ConvertedCode &c : kConvertedCodes) {
        if (c.code == code)
            return &c;
    }
    return nullptr;
}

// The bands as a sensor of such a code sees them.
std::vector<std::uint8_t> sensorPicture(const ConvertedCode &c,
                                        const std::vector<std::uint32_t> &pixels, std::uint32_t w,
                                        std::uint32_t h)
{
    std::vector<std::uint8_t> out(std::size_t(w) * h * c.bytes);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t p = pixels[std::size_t(y) * w + x];
            const int red = int(p >> 16 & 0xFF), green = int(p >> 8 & 0xFF), blue = int(p & 0xFF);
            const int channel = c.pattern[(y % 2) * 2 + x % 2];
            const int value = channel == 0 ? red
                : channel == 1             ? green
                : channel == 2             ? blue
                                           : (red * 77 + green * 150 + blue * 29) >> 8;
            std::uint8_t *at = &out[(std::size_t(y) * w + x) * c.bytes];
            at[c.bytes - 1] = std::uint8_t(value); // 16-bit samples little-endian
        }
    }
    return out;
}

std::uint64_t intervalOf(const FakeInterval &interval)
{
    return interval.denominator == 0
        ? 33333
        : std::uint64_t(interval.numerator) * 1000000 / interval.denominator;
}

class SteadyClock final : public FakeClock
{
public:
    std::uint64_t nowUs() override
    {
        return std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
    }
    void waitUntil(std::uint64_t us) override
    {
        const std::uint64_t now = nowUs();
        if (us > now)
            std::this_thread::sleep_for(std::chrono::microseconds(us - now));
    }
};

} // namespace

std::shared_ptr<FakeClock> steadyClock()
{
    static const std::shared_ptr<FakeClock> clock = std::make_shared<SteadyClock>();
    return clock;
}

FakeDeviceProfile uvcCamera(const std::string &card, int n)
{
    FakeDeviceProfile profile;
    profile.devicePath = "/dev/video" + std::to_string(2 * n);
    profile.card = card;
    profile.busInfo = "usb-0000:00:14.0-" + std::to_string(n + 1);
    profile.byIdName = "usb-Maker_" + card + "_SN" + std::to_string(1000 + n) + "-video-index0";
    profile.byPathName = "pci-0000:00:14.0-usb-0:" + std::to_string(n + 1) + ":1.0-video-index0";
    profile.formats = {
        {V4L2_PIX_FMT_YUYV, {{640, 480}, {160, 120}, {176, 144}, {320, 240}, {1280, 720}}},
        {V4L2_PIX_FMT_MJPEG, {{640, 480}, {320, 240}, {1280, 720}, {1920, 1080}}},
    };
    auto control = [](std::uint32_t id, const char *name, std::uint32_t type, std::int32_t minimum,
                      std::int32_t maximum, std::int32_t defaultValue) {
        return FakeControl {id, name, type, minimum, maximum, 1, defaultValue, {}, 0};
    };
    profile.controls = {
        control(V4L2_CID_BRIGHTNESS, "Brightness", V4L2_CTRL_TYPE_INTEGER, -64, 64, 0),
        control(V4L2_CID_CONTRAST, "Contrast", V4L2_CTRL_TYPE_INTEGER, 0, 64, 32),
        control(V4L2_CID_SATURATION, "Saturation", V4L2_CTRL_TYPE_INTEGER, 0, 128, 64),
        control(V4L2_CID_HUE, "Hue", V4L2_CTRL_TYPE_INTEGER, -40, 40, 0),
        control(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", V4L2_CTRL_TYPE_BOOLEAN, 0,
                1, 1),
        control(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", V4L2_CTRL_TYPE_MENU, 0, 2,
                1),
        control(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", V4L2_CTRL_TYPE_MENU, 0, 3, 3),
        control(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", V4L2_CTRL_TYPE_INTEGER, 3,
                2047, 250),
    };
    profile.controls[5].items = {"Disabled", "50 Hz", "60 Hz"};
    // Cameras leave holes in menus: only the modes they have answer.
    profile.controls[6].items = {"", "Manual Mode", "", "Aperture Priority Mode"};
    profile.controls[7].flags = V4L2_CTRL_FLAG_DISABLED;
    return profile;
}

FakeDeviceProfile uvcMetadataNode(const FakeDeviceProfile &camera, int n)
{
    FakeDeviceProfile profile = camera;
    profile.devicePath = "/dev/video" + std::to_string(2 * n + 1);
    profile.byIdName = camera.byIdName.substr(0, camera.byIdName.size() - 1) + "1";
    profile.byPathName = camera.byPathName.substr(0, camera.byPathName.size() - 1) + "1";
    profile.metadataNode = true;
    profile.formats.clear();
    profile.controls.clear();
    return profile;
}

FakeDevice::FakeDevice(FakeDeviceProfile s, std::uint64_t id) : profile(std::move(s)), identity(id)
{
    busy = profile.busy;
    for (const FakeControl &control : profile.controls)
        controlValues[control.id] = control.defaultValue;
    if (!profile.formats.empty() && !profile.formats.front().sizes.empty()) {
        pixelFormat = profile.formats.front().pixelFormat;
        width = profile.formats.front().sizes.front().first;
        height = profile.formats.front().sizes.front().second;
        if (profile.currentFormat != 0) {
            pixelFormat = profile.currentFormat;
            std::tie(width, height) = profile.currentSize;
        }
        if (const auto *offered = offeredIntervals(pixelFormat, width, height);
            offered && !offered->empty())
            m_interval = offered->front();
        makePicture();
    }
}

const std::vector<FakeInterval> *FakeDevice::offeredIntervals(std::uint32_t code, std::uint32_t w,
                                                              std::uint32_t h) const
{
    for (const FakeFormat &format : profile.formats) {
        if (format.pixelFormat != code)
            continue;
        for (std::size_t i = 0; i < format.sizes.size() && i < format.intervals.size(); ++i) {
            if (format.sizes[i] == std::pair(w, h))
                return &format.intervals[i];
        }
    }
    return nullptr;
}

std::uint64_t FakeDevice::intervalUs()
{
    const std::uint64_t base = profile.behaviour.frameIntervalMs
        ? std::uint64_t(profile.behaviour.frameIntervalMs) * 1000
        : intervalOf(m_interval);
    // A fixed sequence of jitter, so that every run sees the same frames.
    m_random = m_random * 1664525u + 1013904223u;
    const double spread = (double(m_random >> 8) / double(1u << 24)) * 2 - 1;
    return std::uint64_t(double(base) * (1 + profile.behaviour.jitter * spread));
}

void FakeDevice::catchUp()
{
    const FakeBehaviour &b = profile.behaviour;
    if (!b.timed || !m_clock || m_firstStreamUs == 0)
        return;
    const std::uint64_t now = m_clock->nowUs();
    const std::uint64_t since = now - m_firstStreamUs;
    if (b.unplugAfterMs && since >= std::uint64_t(b.unplugAfterMs) * 1000)
        unplugged = true;
    if (b.stallAfterMs && since >= std::uint64_t(b.stallAfterMs) * 1000)
        stalled = true;
    // After a long gap only the last frames can matter: the queue holds no more.
    for (int n = 0; streaming && !stalled && !unplugged && m_nextFrameUs <= now; ++n) {
        if (n >= 16) {
            m_nextFrameUs = now + intervalUs();
            break;
        }
        ++m_timedFrames;
        if (b.damagedEvery && m_timedFrames % b.damagedEvery == 0)
            ++damagedJpegFrames;
        deliverFrames(1);
        m_nextFrameUs += intervalUs();
    }
}

std::uint64_t FakeDevice::nextFrameUs()
{
    return m_nextFrameUs;
}

int FakeDevice::parameters(unsigned long request, void *arg)
{
    auto *parameters = static_cast<v4l2_streamparm *>(arg);
    if (parameters->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return -EINVAL;
    const std::vector<FakeInterval> *offered = offeredIntervals(pixelFormat, width, height);
    if (request == VIDIOC_S_PARM) {
        const v4l2_fract asked = parameters->parm.capture.timeperframe;
        frameRateRequests.push_back({asked.numerator, asked.denominator});
        if (streaming)
            return -EBUSY;
        // The offered interval nearest to the one asked for.
        if (offered && !offered->empty() && asked.denominator != 0) {
            const double wanted = double(asked.numerator) / asked.denominator;
            m_interval = *std::min_element(offered->begin(), offered->end(), [&](auto &a, auto &b) {
                return std::abs(double(a.numerator) / a.denominator - wanted)
                    < std::abs(double(b.numerator) / b.denominator - wanted);
            });
        }
    }
    parameters->parm.capture = {};
    parameters->parm.capture.capability = offered && !offered->empty() ? V4L2_CAP_TIMEPERFRAME : 0;
    parameters->parm.capture.timeperframe = {m_interval.numerator, m_interval.denominator};
    return 0;
}

const FormatInfo *FakeDevice::formatInfo() const
{
    const std::optional<DeviceFormat> device = formatForDevice(pixelFormat);
    return device ? device->info : nullptr;
}

std::uint32_t FakeDevice::bytesPerLine() const
{
    if (const ConvertedCode *c = convertedCode(pixelFormat))
        return width * c->bytes;
    const FormatInfo *info = formatInfo();
    if (!info || !info->raw())
        return 0;
    return std::uint32_t(frameLayout(*info, width, height).rowBytes[0]) + profile.linePadding;
}

std::uint32_t FakeDevice::sizeImage() const
{
    if (convertedCode(pixelFormat)
        || (formatForDevice(pixelFormat)
            && formatForDevice(pixelFormat)->bytes == DeviceBytes::Converted))
        return bytesPerLine() ? bytesPerLine() * height : width * height;
    const FormatInfo *info = formatInfo();
    if (!info)
        return 0;
    // A compressed frame takes what it takes; at small sizes that is more than the raw frame.
    if (!info->raw())
        return std::max<std::uint32_t>(frameBytes(info->at(int(width), int(height))).value_or(0),
                                       std::uint32_t(m_picture.size()));
    return std::uint32_t(frameLayout(*info, width, height, bytesPerLine()).bytes);
}

void FakeDevice::makePicture()
{
    ++m_pictureVersion;
    m_picture.clear();
    const std::optional<DeviceFormat> device = formatForDevice(pixelFormat);
    if (!device)
        return;
    const FormatInfo &info = *device->info;
    const std::vector<std::uint32_t> pixels = bands(width, height);
    if (device->bytes == DeviceBytes::Converted) {
        // Vendor formats stay blank: their frames do not convert, as a broken camera's.
        const ConvertedCode *c = convertedCode(pixelFormat);
        m_picture = c ? sensorPicture(*c, pixels, width, height)
                      : std::vector<std::uint8_t>(sizeImage(), 0);
        return;
    }
    const PictureView picture {reinterpret_cast<const std::uint8_t *>(pixels.data()), int(width),
                               int(height), int(width) * 4};
    std::vector<std::uint8_t> frame;
    if (!m_encoder.encode(info.at(int(width), int(height)), picture, frame))
        return;
    if (!info.raw()) {
        m_picture = withoutHuffmanTables(frame);
        m_picture.resize(m_picture.size() + 32, 0);
        return;
    }
    // The frame as the driver delivers it, turned back into the device's rows.
    m_picture.assign(sizeImage(), 0);
    copyFrame(
        info, device->bytes, int(width), int(height),
        framePlanes(frameLayout(info, width, height), std::as_const(frame).data(), info.bottomUp),
        framePlanes(frameLayout(info, width, height, bytesPerLine()), m_picture.data(), false));
}

void FakeDevice::deliverFrames(int n)
{
    for (int i = 0; i < n; ++i) {
        ++framesDelivered;
        if (!streaming || m_queued.empty())
            continue; // dropped, as a camera drops frames nobody has room for
        const std::uint32_t index = m_queued.front();
        m_queued.pop_front();
        Buffer &buffer = m_buffers[index];
        if (usePayload) {
            const std::size_t count = std::min(payload.size(), buffer.memory.size());
            std::copy_n(payload.begin(), count, buffer.memory.begin());
            buffer.contentVersion = ~m_pictureVersion;
            buffer.bytesUsed = std::uint32_t(count);
            buffer.sequence = framesDelivered;
            buffer.flags = 0;
            m_done.push_back(index);
            continue;
        }
        if (buffer.contentVersion != m_pictureVersion) {
            std::copy(m_picture.begin(), m_picture.end(), buffer.memory.begin());
            buffer.contentVersion = m_pictureVersion;
        }
        buffer.bytesUsed = std::uint32_t(m_picture.size());
        buffer.sequence = framesDelivered;
        buffer.flags = 0;
        const bool raw = formatInfo() && formatInfo()->raw();
        // Damaged frames of a timed device: cut short when compressed, flagged when raw.
        if (raw && errorFrames == 0 && profile.behaviour.timed && damagedJpegFrames > 0)
            std::swap(errorFrames, damagedJpegFrames);
        if (!raw && damagedJpegFrames > 0) {
            --damagedJpegFrames;
            buffer.bytesUsed /= 2;
        }
        if (raw) {
            std::memcpy(buffer.memory.data(), &framesDelivered, sizeof framesDelivered);
            if (shortRawFrames > 0) {
                --shortRawFrames;
                buffer.bytesUsed /= 2;
            }
        }
        if (errorFrames > 0) {
            --errorFrames;
            buffer.flags |= V4L2_BUF_FLAG_ERROR;
        }
        const bool whole = buffer.flags == 0 && buffer.bytesUsed == m_picture.size();
        if (whole && firstGoodFrameUs == 0 && profile.behaviour.timed)
            firstGoodFrameUs = m_nextFrameUs;
        m_done.push_back(index);
    }
}

int FakeDevice::setFormat(void *arg)
{
    auto *format = static_cast<v4l2_format *>(arg);
    if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || profile.formats.empty())
        return -EINVAL;
    formatRequests.push_back(format->fmt.pix.pixelformat);
    if (busy || !m_buffers.empty())
        return -EBUSY;
    v4l2_pix_format &pix = format->fmt.pix;
    auto offered
        = std::find_if(profile.formats.begin(), profile.formats.end(),
                       [&](const FakeFormat &f) { return f.pixelFormat == pix.pixelformat; });
    if (offered == profile.formats.end())
        offered = profile.formats.begin();
    // The nearest size the device has, as a driver adjusts a request.
    auto distance = [&](const std::pair<std::uint32_t, std::uint32_t> &size) {
        return std::abs(std::int64_t(size.first) - pix.width)
            + std::abs(std::int64_t(size.second) - pix.height);
    };
    const auto size
        = std::min_element(offered->sizes.begin(), offered->sizes.end(),
                           [&](const auto &a, const auto &b) { return distance(a) < distance(b); });
    pixelFormat = offered->pixelFormat;
    width = size->first;
    height = size->second;
    const std::vector<FakeInterval> *intervals = offeredIntervals(pixelFormat, width, height);
    m_interval = intervals && !intervals->empty() ? intervals->front() : FakeInterval {};
    makePicture();
    pix.pixelformat = pixelFormat;
    pix.width = width;
    pix.height = height;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = bytesPerLine();
    pix.sizeimage = sizeImage();
    return 0;
}

int FakeDevice::ioctl(unsigned long request, void *arg)
{
    if (unplugged)
        return -ENODEV;
    if (const auto refusal = refusals.find(request); refusal != refusals.end())
        return -refusal->second;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto *caps = static_cast<v4l2_capability *>(arg);
        *caps = {};
        copyName(caps->driver, sizeof caps->driver, profile.driver);
        copyName(caps->card, sizeof caps->card, profile.card);
        copyName(caps->bus_info, sizeof caps->bus_info, profile.busInfo);
        caps->version = profile.version;
        caps->device_caps = (profile.metadataNode ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE)
            | V4L2_CAP_STREAMING;
        caps->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
            | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto *description = static_cast<v4l2_fmtdesc *>(arg);
        if (description->index >= profile.formats.size())
            return -EINVAL;
        description->pixelformat = profile.formats[description->index].pixelFormat;
        const std::optional<DeviceFormat> device = formatForDevice(description->pixelformat);
        description->flags = device && !device->info->raw() ? V4L2_FMT_FLAG_COMPRESSED : 0;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto *size = static_cast<v4l2_frmsizeenum *>(arg);
        const auto format = std::find_if(
            profile.formats.begin(), profile.formats.end(),
            [&](const FakeFormat &f) { return f.pixelFormat == size->pixel_format; });
        if (format == profile.formats.end() || size->index >= format->sizes.size())
            return -EINVAL;
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete.width = format->sizes[size->index].first;
        size->discrete.height = format->sizes[size->index].second;
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto *format = static_cast<v4l2_format *>(arg);
        if (profile.formats.empty())
            return -EINVAL;
        format->fmt.pix = {};
        format->fmt.pix.pixelformat = pixelFormat;
        format->fmt.pix.width = width;
        format->fmt.pix.height = height;
        format->fmt.pix.bytesperline = bytesPerLine();
        format->fmt.pix.sizeimage = sizeImage();
        return 0;
    }
    case VIDIOC_S_FMT:
        return setFormat(arg);
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM:
        return parameters(request, arg);
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto *interval = static_cast<v4l2_frmivalenum *>(arg);
        const std::vector<FakeInterval> *offered
            = offeredIntervals(interval->pixel_format, interval->width, interval->height);
        if (!offered || interval->index >= offered->size())
            return -EINVAL;
        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval->discrete
            = {(*offered)[interval->index].numerator, (*offered)[interval->index].denominator};
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto *buffers = static_cast<v4l2_requestbuffers *>(arg);
        if (busy)
            return -EBUSY;
        if (streaming || mappedBuffers > 0)
            return -EBUSY;
        m_buffers.clear();
        m_queued.clear();
        m_done.clear();
        buffers->count = std::min<std::uint32_t>(buffers->count, 8);
        for (std::uint32_t i = 0; i < buffers->count; ++i)
            m_buffers.push_back(Buffer {std::vector<std::uint8_t>(sizeImage()), 0, 0, 0, 0});
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto *buffer = static_cast<v4l2_buffer *>(arg);
        if (buffer->index >= m_buffers.size())
            return -EINVAL;
        buffer->length = std::uint32_t(m_buffers[buffer->index].memory.size());
        buffer->m.offset = buffer->index * kBufferSpacing;
        return 0;
    }
    case VIDIOC_QBUF: {
        auto *buffer = static_cast<v4l2_buffer *>(arg);
        if (buffer->index >= m_buffers.size()
            || std::count(m_queued.begin(), m_queued.end(), buffer->index)
            || std::count(m_done.begin(), m_done.end(), buffer->index))
            return -EINVAL;
        m_queued.push_back(buffer->index);
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto *buffer = static_cast<v4l2_buffer *>(arg);
        catchUp();
        if (unplugged)
            return -ENODEV;
        if (!streaming)
            return -EINVAL;
        if (m_done.empty())
            return -EAGAIN;
        const std::uint32_t index = m_done.front();
        m_done.pop_front();
        buffer->index = index;
        buffer->bytesused = m_buffers[index].bytesUsed;
        buffer->sequence = m_buffers[index].sequence;
        buffer->flags = m_buffers[index].flags;
        buffer->length = std::uint32_t(m_buffers[index].memory.size());
        return 0;
    }
    case VIDIOC_STREAMON:
        if (busy)
            return -EBUSY;
        if (m_buffers.empty())
            return -EINVAL;
        streaming = true;
        ++streamStarts;
        if (profile.behaviour.timed && m_clock) {
            // A camera starts anew with every stream start: its first frame comes late, and the
            // first ones may be damaged.
            const std::uint64_t now = m_clock->nowUs();
            if (m_firstStreamUs == 0)
                m_firstStreamUs = now;
            m_nextFrameUs = now + std::uint64_t(profile.behaviour.firstFrameMs) * 1000;
            damagedJpegFrames = profile.behaviour.damagedAtStart;
            firstGoodFrameUs = 0;
        }
        return 0;
    case VIDIOC_STREAMOFF:
        streaming = false;
        m_queued.clear();
        m_done.clear();
        return 0;
    case VIDIOC_QUERYCTRL: {
        auto *query = static_cast<v4l2_queryctrl *>(arg);
        const std::uint32_t after = query->id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
        const bool next = (query->id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0;
        const FakeControl *found = nullptr;
        for (const FakeControl &control : profile.controls) {
            if (next ? control.id > after && (!found || control.id < found->id)
                     : control.id == after)
                found = &control;
        }
        if (!found)
            return -EINVAL;
        *query = {};
        query->id = found->id;
        query->type = found->type;
        copyName(query->name, sizeof query->name, found->name);
        query->minimum = found->minimum;
        query->maximum = found->maximum;
        query->step = found->step;
        query->default_value = found->defaultValue;
        query->flags = found->flags;
        return 0;
    }
    case VIDIOC_QUERYMENU: {
        auto *item = static_cast<v4l2_querymenu *>(arg);
        for (const FakeControl &control : profile.controls) {
            if (control.id == item->id && item->index < control.items.size()
                && !control.items[item->index].empty()) {
                copyName(item->name, sizeof item->name, control.items[item->index]);
                return 0;
            }
        }
        return -EINVAL;
    }
    case VIDIOC_G_CTRL: {
        auto *value = static_cast<v4l2_control *>(arg);
        const auto it = controlValues.find(value->id);
        if (it == controlValues.end())
            return -EINVAL;
        value->value = it->second;
        return 0;
    }
    case VIDIOC_S_CTRL: {
        auto *value = static_cast<v4l2_control *>(arg);
        for (const FakeControl &control : profile.controls) {
            if (control.id != value->id)
                continue;
            if (value->value < control.minimum || value->value > control.maximum)
                return -ERANGE;
            controlValues[control.id] = value->value;
            return 0;
        }
        return -EINVAL;
    }
    default:
        return -ENOTTY;
    }
}

FakeDevice &FakeV4l2Io::addDevice(FakeDeviceProfile profile)
{
    m_devices.push_back(std::make_unique<FakeDevice>(std::move(profile), m_nextIdentity++));
    m_devices.back()->m_clock = m_clock;
    if (m_devices.back()->profile.behaviour.timed)
        m_devices.back()->autoFrames = false;
    return *m_devices.back();
}

void FakeV4l2Io::renumber(std::size_t index, const std::string &devicePath)
{
    FakeDevice &device = *m_devices.at(index);
    device.profile.devicePath = devicePath;
    device.identity = m_nextIdentity++;
    // A new device as far as the kernel goes: nothing of the old one's streaming is left.
    device.unplugged = false;
    device.streaming = false;
    device.mappedBuffers = 0;
    device.m_buffers.clear();
    device.m_queued.clear();
    device.m_done.clear();
}

std::vector<V4l2Node> FakeV4l2Io::listNodes()
{
    std::vector<V4l2Node> nodes;
    for (const auto &device : m_devices) {
        device->catchUp();
        if (!device->unplugged)
            nodes.push_back({device->profile.devicePath, device->profile.byIdName,
                             device->profile.byPathName, device->identity});
    }
    return nodes;
}

FakeDevice *FakeV4l2Io::deviceOf(int fd)
{
    const auto it = m_open.find(fd);
    return it == m_open.end() ? nullptr : it->second;
}

int FakeV4l2Io::open(const std::string &devicePath)
{
    for (const auto &device : m_devices) {
        if (device->profile.devicePath != devicePath || device->unplugged)
            continue;
        if (device->busyOnOpen)
            return -EBUSY;
        const int fd = m_nextFd++;
        m_open.emplace(fd, device.get());
        return fd;
    }
    return -ENOENT;
}

void FakeV4l2Io::close(int fd)
{
    m_open.erase(fd);
}

void *FakeV4l2Io::mmap(int fd, std::size_t length, off_t offset)
{
    FakeDevice *device = deviceOf(fd);
    const std::size_t index = std::size_t(offset) / kBufferSpacing;
    if (!device || device->unplugged || index >= device->m_buffers.size()
        || length != device->m_buffers[index].memory.size())
        return nullptr;
    ++device->mappedBuffers;
    return device->m_buffers[index].memory.data();
}

void FakeV4l2Io::munmap(void *address, std::size_t /*length*/)
{
    for (const auto &device : m_devices) {
        for (const FakeDevice::Buffer &buffer : device->m_buffers) {
            if (buffer.memory.data() == address && device->mappedBuffers > 0)
                --device->mappedBuffers;
        }
    }
}

int FakeV4l2Io::poll(int fd, int timeoutMs)
{
    FakeDevice *device = deviceOf(fd);
    if (!device)
        return -EBADF;
    device->lastPollTimeoutMs = timeoutMs;
    device->catchUp();
    // A gone device reports an error condition, which the next dequeue explains.
    if (device->unplugged)
        return 1;
    if (device->profile.behaviour.timed && device->m_done.empty()) {
        // The wait lasts until the next frame or the timeout, whichever comes first.
        const std::uint64_t deadline
            = m_clock->nowUs() + std::uint64_t(std::max(timeoutMs, 0)) * 1000;
        const bool coming = device->streaming && !device->stalled;
        m_clock->waitUntil(coming ? std::min(deadline, device->nextFrameUs()) : deadline);
        device->catchUp();
        return device->m_done.empty() && !device->unplugged ? 0 : 1;
    }
    if (device->m_done.empty() && device->autoFrames && !device->stalled)
        device->deliverFrames(1);
    return device->m_done.empty() ? 0 : 1;
}

int FakeV4l2Io::ioctlOnce(int fd, unsigned long request, void *arg)
{
    FakeDevice *device = deviceOf(fd);
    return device ? device->ioctl(request, arg) : -EBADF;
}

} // namespace platform::vfw::fake
