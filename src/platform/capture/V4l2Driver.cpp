#include "platform/capture/V4l2Driver.h"

#include "platform/capture/CaptureLog.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace platform::vfw {

namespace {

// Device answers are bounded: a device that enumerates for ever must not keep us in a loop.
constexpr std::uint32_t kMaxEnumeration = 64;

template<std::size_t N> std::string fixedString(const std::uint8_t (&text)[N])
{
    const auto *chars = reinterpret_cast<const char *>(text);
    return std::string(chars, strnlen(chars, N));
}

bool isDeviceGone(int error)
{
    return error == -ENODEV || error == -EIO || error == -ENXIO;
}

// Sizes offered for a device that describes a range rather than a list.
constexpr std::pair<std::uint32_t, std::uint32_t> kCommonSizes[] = {
    {160, 120}, {176, 144}, {320, 240},  {352, 288},
    {640, 480}, {800, 600}, {1280, 720}, {1920, 1080},
};

bool inRange(std::uint32_t value, std::uint32_t minimum, std::uint32_t maximum, std::uint32_t step)
{
    return value >= minimum && value <= maximum && (step <= 1 || (value - minimum) % step == 0);
}

} // namespace

std::optional<V4l2DeviceInfo> probeV4l2Node(V4l2Io &io, const std::string &devicePath)
{
    const int fd = io.open(devicePath);
    if (fd < 0) {
        qCDebug(lcCapture, "cannot open %s: %d", devicePath.c_str(), fd);
        return std::nullopt;
    }
    v4l2_capability caps = {};
    const int result = io.ioctl(fd, VIDIOC_QUERYCAP, &caps);
    V4l2DeviceInfo info;
    info.driver = fixedString(caps.driver);
    info.card = fixedString(caps.card);
    info.busInfo = fixedString(caps.bus_info);
    info.version = caps.version;
    // A camera's metadata node belongs to the same device; only the node that carries
    // pictures counts.
    const std::uint32_t nodeCaps
        = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    info.canCapture = result == 0 && (nodeCaps & V4L2_CAP_VIDEO_CAPTURE) != 0
        && (nodeCaps & V4L2_CAP_STREAMING) != 0;
    // What the formats show tells an infrared or depth node from the colour camera beside it.
    for (std::uint32_t i = 0; info.canCapture && i < kMaxEnumeration; ++i) {
        v4l2_fmtdesc description = {};
        description.index = i;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io.ioctl(fd, VIDIOC_ENUM_FMT, &description) != 0)
            break;
        info.formatKinds.push_back(pictureKindOf(description.pixelformat));
    }
    io.close(fd);
    if (result != 0)
        return std::nullopt;
    return info;
}

DeviceDescriptor describeV4l2Camera(std::shared_ptr<V4l2Io> io, const V4l2Node &node,
                                    const V4l2DeviceInfo &info)
{
    DeviceDescriptor device;
    device.description.name = info.card.empty() ? info.driver : info.card;
    device.description.version = info.driver + " " + std::to_string(info.version >> 16) + "."
        + std::to_string((info.version >> 8) & 0xFF) + "." + std::to_string(info.version & 0xFF);
    // The by-id name carries the maker, model and serial number and stays with the camera
    // whatever port or node it gets; the by-path name stays with the port.
    device.identity = !node.byIdName.empty() ? "v4l2-id:" + node.byIdName
        : !node.byPathName.empty()           ? "v4l2-path:" + node.byPathName
                                             : "v4l2-bus:" + info.busInfo + "/" + info.card;
    // "usb-0000:00:14.0-3.1" reads as USB port 3.1; other buses as they are.
    const std::size_t dash = info.busInfo.rfind('-');
    device.port = info.busInfo.starts_with("usb-") && dash != std::string::npos
        ? "USB " + info.busInfo.substr(dash + 1)
        : info.busInfo;
    device.kind = deviceKind(device.description.name, info.formatKinds);
    device.standardCamera = info.driver == "uvcvideo" && device.kind == PictureKind::Colour;
    device.open = [io = std::move(io), path = node.devicePath] {
        return std::make_unique<V4l2Driver>(io, path);
    };
    return device;
}

V4l2BufferSet::V4l2BufferSet(V4l2BufferSet &&other) noexcept
    : m_io(std::move(other.m_io)), m_fd(std::exchange(other.m_fd, -1)),
      m_buffers(std::move(other.m_buffers))
{
    other.m_buffers.clear();
}

V4l2BufferSet &V4l2BufferSet::operator=(V4l2BufferSet &&other) noexcept
{
    if (this != &other) {
        reset();
        m_io = std::move(other.m_io);
        m_fd = std::exchange(other.m_fd, -1);
        m_buffers = std::move(other.m_buffers);
        other.m_buffers.clear();
    }
    return *this;
}

int V4l2BufferSet::start(std::shared_ptr<V4l2Io> io, int fd, unsigned count, V4l2BufferSet &out)
{
    V4l2BufferSet set;
    set.m_io = std::move(io);
    set.m_fd = fd;
    v4l2_requestbuffers request = {};
    request.count = count;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (const int result = set.m_io->ioctl(fd, VIDIOC_REQBUFS, &request))
        return result;
    // From here on the destructor gives the buffers back, whatever fails.
    set.m_buffers.resize(std::min(request.count, kMaxEnumeration));
    if (set.m_buffers.empty())
        return -ENOMEM;
    for (std::uint32_t i = 0; i < set.m_buffers.size(); ++i) {
        v4l2_buffer buffer = {};
        buffer.index = i;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (const int result = set.m_io->ioctl(fd, VIDIOC_QUERYBUF, &buffer))
            return result;
        if (buffer.length == 0 || buffer.length > kMaxFrameBytes)
            return -EINVAL;
        void *address = set.m_io->mmap(fd, buffer.length, off_t(buffer.m.offset));
        if (!address)
            return -ENOMEM;
        set.m_buffers[i] = {address, buffer.length};
        if (const int result = set.m_io->ioctl(fd, VIDIOC_QBUF, &buffer))
            return result;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (const int result = set.m_io->ioctl(fd, VIDIOC_STREAMON, &type))
        return result;
    out = std::move(set);
    return 0;
}

void V4l2BufferSet::reset()
{
    if (!m_io)
        return;
    if (m_fd >= 0) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        m_io->ioctl(m_fd, VIDIOC_STREAMOFF, &type);
    }
    for (const Mapping &mapping : m_buffers) {
        if (mapping.address)
            m_io->munmap(mapping.address, mapping.length);
    }
    if (m_fd >= 0 && !m_buffers.empty()) {
        v4l2_requestbuffers request = {};
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        m_io->ioctl(m_fd, VIDIOC_REQBUFS, &request);
    }
    m_buffers.clear();
    m_fd = -1;
    m_io.reset();
}

namespace {

// The conversion library's calls on the device go through the node's single ioctl entry, so a
// fake device serves them as it serves ours.
int convertIoctl(void *io, int fd, unsigned long request, void *arg)
{
    const int result = static_cast<V4l2Io *>(io)->ioctl(fd, request, arg);
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

ssize_t convertNoRead(void *, int, void *, size_t)
{
    errno = EINVAL;
    return -1;
}

ssize_t convertNoWrite(void *, int, const void *, size_t)
{
    errno = EINVAL;
    return -1;
}

const libv4l_dev_ops kConvertOps = {
    nullptr, nullptr, convertIoctl, convertNoRead, convertNoWrite, nullptr,
    nullptr, nullptr, nullptr,      nullptr,       nullptr,        nullptr,
};

} // namespace

V4l2Converter::V4l2Converter(std::shared_ptr<V4l2Io> io, int fd) : m_io(std::move(io))
{
    m_data = v4lconvert_create_with_dev_ops(fd, m_io.get(), &kConvertOps);
    if (!m_data)
        qCInfo(lcCapture, "the conversion library does not take descriptor %d", fd);
}

V4l2Converter::~V4l2Converter()
{
    if (m_data)
        v4lconvert_destroy(m_data);
}

V4l2Converter::V4l2Converter(V4l2Converter &&other) noexcept
    : m_io(std::move(other.m_io)), m_data(std::exchange(other.m_data, nullptr)),
      m_input(std::move(other.m_input))
{ }

V4l2Converter &V4l2Converter::operator=(V4l2Converter &&other) noexcept
{
    if (this != &other) {
        if (m_data)
            v4lconvert_destroy(m_data);
        m_io = std::move(other.m_io);
        m_data = std::exchange(other.m_data, nullptr);
        m_input = std::move(other.m_input);
    }
    return *this;
}

bool V4l2Converter::toBgr(const v4l2_pix_format &device, std::span<const std::uint8_t> frame,
                          std::span<std::uint8_t> out)
{
    const std::uint64_t rows = std::uint64_t(device.width) * 3 * device.height;
    if (!m_data || frame.empty() || out.size() < rows || frame.size() > kMaxFrameBytes)
        return false;
    v4l2_format source = {}, target = {};
    source.type = target.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    source.fmt.pix = device;
    target.fmt.pix = device;
    target.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    target.fmt.pix.bytesperline = device.width * 3;
    target.fmt.pix.sizeimage = std::uint32_t(rows);
    m_input.assign(frame.begin(), frame.end());
    const int written = v4lconvert_convert(m_data, &source, &target, m_input.data(),
                                           int(m_input.size()), out.data(), int(rows));
    if (written != int(rows)) {
        qCDebug(lcCapture, "frame not converted: %s", v4lconvert_get_error_message(m_data));
        return false;
    }
    return true;
}

V4l2Driver::V4l2Driver(std::shared_ptr<V4l2Io> io, std::string devicePath)
    : m_io(std::move(io)), m_devicePath(std::move(devicePath))
{ }

V4l2Driver::~V4l2Driver()
{
    disconnect();
}

int V4l2Driver::connect()
{
    disconnect();
    const int fd = m_io->open(m_devicePath);
    if (fd < 0) {
        qCInfo(lcCapture, "cannot open %s: %d", m_devicePath.c_str(), fd);
        return fd;
    }
    m_fd = V4l2Fd(m_io, fd);
    enumerateFormats();
    if (m_offers.empty()) {
        qCInfo(lcCapture, "%s offers no format we can use", m_devicePath.c_str());
        disconnect();
        return -ENODEV;
    }
    // Keep the device's own format when we can use it, so that a size chosen earlier survives.
    v4l2_format current = {};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const Offer *chosen = &m_offers.front();
    if (m_io->ioctl(fd, VIDIOC_G_FMT, &current) == 0) {
        for (const Offer &offer : m_offers) {
            if (offer.deviceCode == current.fmt.pix.pixelformat
                && std::uint32_t(offer.format.width) == current.fmt.pix.width
                && std::uint32_t(offer.format.height) == current.fmt.pix.height)
                chosen = &offer;
        }
    }
    // Setting the format and starting the stream are what a device that another program uses
    // refuses (EBUSY), so both happen here and a busy camera fails to connect.
    int result = applyFormat(*chosen);
    if (result == 0) {
        requestFrameRate();
        result = startStreaming();
    }
    if (result != 0) {
        qCInfo(lcCapture, "cannot start %s: %d", m_devicePath.c_str(), result);
        disconnect();
        return result;
    }
    enumerateControls();
    m_connectedAt = std::chrono::steady_clock::now();
    return 0;
}

void V4l2Driver::disconnect()
{
    m_held = -1;
    m_buffers.reset();
    m_converter = {};
    m_fd.reset();
    m_offers.clear();
    m_controls.clear();
    m_lost = false;
    m_device = {};
}

void V4l2Driver::enumerateFormats()
{
    m_offers.clear();
    auto offer
        = [this](const FormatInfo &info, std::uint32_t code, std::uint32_t w, std::uint32_t h) {
              const VideoFormat format = info.at(std::int32_t(w), std::int32_t(h));
              if (!frameBytes(format) || m_offers.size() >= kMaxEnumeration * 4)
                  return;
              // Two device codes for the same bitmap format: the first one offered is kept.
              for (const Offer &existing : m_offers) {
                  if (existing.format == format)
                      return;
              }
              m_offers.push_back({format, code});
          };
    // The formats we decode ourselves first; then, at sizes none of those has, the formats the
    // conversion library turns into rows. H264 and the like are no row and stay unused.
    for (const bool converted : {false, true}) {
        const std::vector<Offer> native = m_offers;
        for (std::uint32_t i = 0; i < kMaxEnumeration; ++i) {
            v4l2_fmtdesc description = {};
            description.index = i;
            description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (m_io->ioctl(m_fd.get(), VIDIOC_ENUM_FMT, &description) != 0)
                break;
            const std::optional<DeviceFormat> device = formatForDevice(description.pixelformat);
            if (!device || (description.flags & V4L2_FMT_FLAG_EMULATED)
                || (device->bytes == DeviceBytes::Converted) != converted)
                continue;
            auto add = [&](std::uint32_t w, std::uint32_t h) {
                const bool nativeSize
                    = std::any_of(native.begin(), native.end(), [&](const Offer &o) {
                          return std::uint32_t(o.format.width) == w
                              && std::uint32_t(o.format.height) == h;
                      });
                if (!converted || !nativeSize)
                    offer(*device->info, description.pixelformat, w, h);
            };
            for (std::uint32_t j = 0; j < kMaxEnumeration; ++j) {
                v4l2_frmsizeenum size = {};
                size.index = j;
                size.pixel_format = description.pixelformat;
                if (m_io->ioctl(m_fd.get(), VIDIOC_ENUM_FRAMESIZES, &size) != 0)
                    break;
                if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                    add(size.discrete.width, size.discrete.height);
                    continue;
                }
                const v4l2_frmsize_stepwise &range = size.stepwise;
                for (const auto &[w, h] : kCommonSizes) {
                    if (inRange(w, range.min_width, range.max_width, range.step_width)
                        && inRange(h, range.min_height, range.max_height, range.step_height))
                        add(w, h);
                }
                break;
            }
        }
    }
}

void V4l2Driver::enumerateControls()
{
    m_controls.clear();
    std::uint32_t id = 0;
    for (std::uint32_t n = 0; n < kMaxEnumeration * 4; ++n) {
        v4l2_queryctrl query = {};
        query.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
        if (m_io->ioctl(m_fd.get(), VIDIOC_QUERYCTRL, &query) != 0 || query.id <= id)
            break;
        id = query.id;
        if (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)
            || query.minimum > query.maximum)
            continue;
        DriverControl control;
        control.id = query.id;
        control.name = fixedString(query.name);
        control.minimum = query.minimum;
        control.maximum = query.maximum;
        control.step = std::max(query.step, 1);
        control.defaultValue = query.default_value;
        switch (query.type) {
        case V4L2_CTRL_TYPE_INTEGER:
            control.kind = DriverControl::Kind::Integer;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            control.kind = DriverControl::Kind::Boolean;
            break;
        case V4L2_CTRL_TYPE_MENU:
            control.kind = DriverControl::Kind::Menu;
            for (std::int64_t value = query.minimum;
                 value <= query.maximum && control.items.size() < kMaxEnumeration; ++value) {
                v4l2_querymenu item = {};
                item.id = query.id;
                item.index = std::uint32_t(value);
                if (m_io->ioctl(m_fd.get(), VIDIOC_QUERYMENU, &item) == 0)
                    control.items.push_back({std::int32_t(value), fixedString(item.name)});
            }
            if (control.items.empty())
                continue;
            break;
        default:
            continue;
        }
        m_controls.push_back(std::move(control));
    }
}

std::vector<VideoFormat> V4l2Driver::formats() const
{
    std::vector<VideoFormat> formats;
    formats.reserve(m_offers.size());
    for (const Offer &offer : m_offers)
        formats.push_back(offer.format);
    return formats;
}

int V4l2Driver::applyFormat(const Offer &offer)
{
    v4l2_format request = {};
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.fmt.pix.width = std::uint32_t(offer.format.width);
    request.fmt.pix.height = std::uint32_t(offer.format.height);
    request.fmt.pix.pixelformat = offer.deviceCode;
    request.fmt.pix.field = V4L2_FIELD_NONE;
    if (const int result = m_io->ioctl(m_fd.get(), VIDIOC_S_FMT, &request)) {
        lostOn(result);
        return result;
    }
    // The device answers with what it really does, which may differ from the request.
    const v4l2_pix_format &pix = request.fmt.pix;
    const std::optional<DeviceFormat> device = formatForDevice(pix.pixelformat);
    if (!device || pix.width > 0xFFFF || pix.height > 0xFFFF)
        return -EINVAL;
    const FormatInfo &info = *device->info;
    const VideoFormat format = info.at(std::int32_t(pix.width), std::int32_t(pix.height));
    const bool converted = device->bytes == DeviceBytes::Converted;
    // Converted frames reach the copy as the library's rows, packed.
    const std::uint32_t line = converted
        ? std::uint32_t(frameLayout(info, pix.width, 1).rowBytes[0])
        : std::max(pix.bytesperline, minimumDeviceLine(info, pix.width));
    if (!frameBytes(format)
        || (info.raw() && frameLayout(info, pix.width, pix.height, line).bytes > kMaxFrameBytes))
        return -EINVAL;
    if (converted && !m_converter.isValid()) {
        m_converter = V4l2Converter(m_io, m_fd.get());
        if (!m_converter.isValid())
            return -EINVAL;
    }
    m_format = format;
    m_device = *device;
    m_bytesPerLine = line;
    m_devicePix = pix;
    return 0;
}

int V4l2Driver::setFormat(const VideoFormat &wanted)
{
    if (!m_fd.isValid())
        return m_lost ? -ENODEV : -ENOTCONN;
    const std::vector<VideoFormat> offered = formats();
    const std::optional<VideoFormat> choice = nearestFormat(offered, wanted, m_format);
    if (!choice)
        return -EINVAL;
    if (*choice == m_format)
        return 0;
    const Offer *offer = nullptr, *previous = nullptr;
    for (const Offer &candidate : m_offers) {
        if (candidate.format == *choice)
            offer = &candidate;
        if (candidate.format == m_format)
            previous = &candidate;
    }
    if (!offer)
        return -EINVAL;
    // The buffers belong to the old format; the device takes a new one only while idle.
    m_held = -1;
    m_buffers.reset();
    const int result = applyFormat(*offer);
    if (result != 0) {
        qCInfo(lcCapture, "%s refused a format: %d", m_devicePath.c_str(), result);
        // The device may have taken a format it then described in a way we cannot use.
        if (previous && !m_lost)
            applyFormat(*previous);
    }
    // Streaming resumes in the old or the new format; a failure here leaves the grabs empty
    // until a later grab can restart it.
    if (!m_lost) {
        requestFrameRate();
        startStreaming();
    }
    return result;
}

int V4l2Driver::startStreaming()
{
    const int result = V4l2BufferSet::start(m_io, m_fd.get(), kBufferCount, m_buffers);
    if (result != 0)
        lostOn(result);
    return result;
}

bool V4l2Driver::lostOn(int error)
{
    if (!isDeviceGone(error) || m_lost)
        return m_lost;
    qCInfo(lcCapture, "%s is gone: %d", m_devicePath.c_str(), error);
    m_held = -1;
    m_buffers.reset();
    m_fd.reset();
    m_lost = true;
    reportError(-error, "The camera " + m_devicePath + " was disconnected.");
    return true;
}

int V4l2Driver::requeue(std::uint32_t index)
{
    v4l2_buffer buffer = {};
    buffer.index = index;
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    const int result = m_io->ioctl(m_fd.get(), VIDIOC_QBUF, &buffer);
    lostOn(result);
    return result;
}

void V4l2Driver::requeueHeld()
{
    if (m_held >= 0)
        requeue(std::uint32_t(std::exchange(m_held, -1)));
}

int V4l2Driver::dequeue(std::uint32_t &index, std::uint32_t &bytesUsed, bool &damaged)
{
    v4l2_buffer buffer = {};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    const int result = m_io->ioctl(m_fd.get(), VIDIOC_DQBUF, &buffer);
    if (result != 0)
        return result;
    if (buffer.index >= m_buffers.count())
        return -EINVAL;
    index = buffer.index;
    bytesUsed = std::min<std::uint32_t>(buffer.bytesused, m_buffers.buffer(index).size());
    damaged = (buffer.flags & V4L2_BUF_FLAG_ERROR) != 0;
    return 0;
}

GrabbedFrame V4l2Driver::grab()
{
    if (m_lost || !m_fd.isValid())
        return {};
    if (!m_buffers.isValid() && startStreaming() != 0)
        return {};
    requeueHeld();
    // Drain what the camera has queued and keep only the newest frame: a frame that waited in
    // the queue is older than the one behind it. The drain is bounded by the buffer count, so a
    // device that always has a frame ready cannot keep us here.
    int newest = -1;
    std::uint32_t newestBytes = 0;
    bool newestDamaged = false;
    auto drain = [&] {
        for (std::size_t n = 0; n <= m_buffers.count() && !m_lost; ++n) {
            std::uint32_t index = 0, bytesUsed = 0;
            bool damaged = false;
            const int result = dequeue(index, bytesUsed, damaged);
            if (result != 0) {
                lostOn(result);
                return;
            }
            if (newest >= 0)
                requeue(std::uint32_t(newest));
            newest = int(index);
            newestBytes = bytesUsed;
            newestDamaged = damaged;
        }
    };
    drain();
    if (newest < 0 && !m_lost) {
        const int ready = m_io->poll(m_fd.get(), kGrabWaitMs);
        if (ready > 0)
            drain();
        else if (ready < 0)
            lostOn(ready);
    }
    if (m_lost || newest < 0)
        return {};
    if (newestDamaged) {
        requeue(std::uint32_t(newest));
        return {};
    }
    return deliver(std::uint32_t(newest), newestBytes);
}

GrabbedFrame V4l2Driver::deliver(std::uint32_t index, std::uint32_t bytesUsed)
{
    const std::span<const std::uint8_t> raw = m_buffers.buffer(index).first(bytesUsed);
    GrabbedFrame frame;
    frame.timeCapturedMs = capturedMs();
    if (m_device.bytes == DeviceBytes::Converted) {
        m_convertedRows.resize(
            frameLayout(*m_device.info, m_format.width, m_format.height, m_bytesPerLine).bytes);
        if (m_converter.toBgr(m_devicePix, raw, m_convertedRows))
            frame.bytes = deliveredFrame(m_format, DeviceBytes::AsFrame, m_bytesPerLine,
                                         m_convertedRows, m_converted);
    } else {
        frame.bytes = deliveredFrame(m_format, m_device.bytes, m_bytesPerLine, raw, m_converted);
    }
    if (frame.bytes.empty()) {
        qCDebug(lcCapture, "%s: damaged or short frame of %u bytes dropped", m_devicePath.c_str(),
                bytesUsed);
        requeue(index);
        return {};
    }
    if (frame.bytes.data() >= raw.data() && frame.bytes.data() < raw.data() + raw.size()) {
        // Handed out as the device left it: held until the next grab, so the bytes stay where
        // the caller reads them.
        m_held = int(index);
    } else {
        // The copy is ours; the camera can have its buffer back at once.
        requeue(index);
    }
    return frame;
}

std::uint32_t V4l2Driver::capturedMs() const
{
    return std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - m_connectedAt)
                             .count());
}

void V4l2Driver::requestFrameRate()
{
    v4l2_streamparm parameters = {};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_io->ioctl(m_fd.get(), VIDIOC_G_PARM, &parameters) != 0
        || !(parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME))
        return;
    std::vector<FrameInterval> offered;
    for (std::uint32_t i = 0; i < kMaxEnumeration; ++i) {
        v4l2_frmivalenum interval = {};
        interval.index = i;
        interval.pixel_format = m_devicePix.pixelformat;
        interval.width = m_devicePix.width;
        interval.height = m_devicePix.height;
        if (m_io->ioctl(m_fd.get(), VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0)
            break;
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            offered.push_back({interval.discrete.numerator, interval.discrete.denominator});
            continue;
        }
        // A range: its ends, and 15 frames a second where it lies inside.
        const v4l2_frmival_stepwise &range = interval.stepwise;
        offered.push_back({range.min.numerator, range.min.denominator});
        offered.push_back({range.max.numerator, range.max.denominator});
        offered.push_back({1, 15});
        std::erase_if(offered, [&](const FrameInterval &f) {
            const auto below = [](const FrameInterval &a, const v4l2_fract &b) {
                return std::uint64_t(a.numerator) * b.denominator
                    < std::uint64_t(b.numerator) * a.denominator;
            };
            const auto above = [](const FrameInterval &a, const v4l2_fract &b) {
                return std::uint64_t(a.numerator) * b.denominator
                    > std::uint64_t(b.numerator) * a.denominator;
            };
            return below(f, range.min) || above(f, range.max);
        });
        break;
    }
    const std::optional<FrameInterval> chosen = preferredInterval(offered);
    if (!chosen)
        return;
    parameters.parm.capture.timeperframe = {chosen->numerator, chosen->denominator};
    if (const int result = m_io->ioctl(m_fd.get(), VIDIOC_S_PARM, &parameters))
        qCDebug(lcCapture, "%s keeps its frame rate: %d", m_devicePath.c_str(), result);
}

std::optional<FrameInterval> preferredInterval(std::span<const FrameInterval> offered)
{
    // Compared as fractions; a zero denominator is no interval.
    const auto shorter = [](const FrameInterval &a, const FrameInterval &b) {
        return std::uint64_t(a.numerator) * b.denominator
            < std::uint64_t(b.numerator) * a.denominator;
    };
    constexpr FrameInterval kLongest {1, 15};
    std::optional<FrameInterval> best, shortest;
    for (const FrameInterval &interval : offered) {
        if (interval.numerator == 0 || interval.denominator == 0)
            continue;
        if (!shortest || shorter(interval, *shortest))
            shortest = interval;
        if (!shorter(kLongest, interval) && (!best || shorter(*best, interval)))
            best = interval;
    }
    return best ? best : shortest;
}

std::optional<std::int32_t> V4l2Driver::control(std::uint32_t id) const
{
    if (!m_fd.isValid())
        return std::nullopt;
    v4l2_control value = {};
    value.id = id;
    if (m_io->ioctl(m_fd.get(), VIDIOC_G_CTRL, &value) != 0)
        return std::nullopt;
    return value.value;
}

int V4l2Driver::setControl(std::uint32_t id, std::int32_t value)
{
    if (!m_fd.isValid())
        return -ENOTCONN;
    const auto it = std::find_if(m_controls.begin(), m_controls.end(),
                                 [id](const DriverControl &c) { return c.id == id; });
    if (it == m_controls.end())
        return -EINVAL;
    v4l2_control request = {};
    request.id = id;
    request.value = std::clamp(value, it->minimum, it->maximum);
    const int result = m_io->ioctl(m_fd.get(), VIDIOC_S_CTRL, &request);
    lostOn(result);
    return result;
}

} // namespace platform::vfw
