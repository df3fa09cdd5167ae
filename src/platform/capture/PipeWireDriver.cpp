#include "platform/capture/PipeWireDriver.h"

#include "platform/capture/CaptureLog.h"
#include "platform/capture/PipeWireSession.h"

#include <spa/param/param.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

// The library's method calls are macros made of GNU statement expressions.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif

namespace platform::vfw {

struct PipeWireDriver::Stream
{
    PipeWireSession *session = nullptr;
    pw_stream *stream = nullptr;
    spa_hook listener {};
    pw_proxy *link = nullptr; // a link we made ourselves, without a session manager
    pw_stream_state state = PW_STREAM_STATE_CONNECTING;
    bool failed = false;
    PipeWireOffer wanted;
    bool askedAgain = false;
    std::optional<PipeWireOffer> negotiated;
    // The newest frame and the format it came in.
    std::vector<std::uint8_t> slot;
    std::uint32_t slotStride = 0;
    PipeWireOffer slotFormat;
    std::uint64_t seq = 0;
};

namespace {

void onStateChanged(void *data, pw_stream_state, pw_stream_state state, const char *error)
{
    auto *s = static_cast<PipeWireDriver::Stream *>(data);
    s->state = state;
    if (state == PW_STREAM_STATE_ERROR) {
        qCInfo(lcCapture, "PipeWire stream failed: %s", error ? error : "");
        s->failed = true;
    }
    pw_thread_loop_signal(s->session->loop(), false);
}

void onParamChanged(void *data, std::uint32_t id, const spa_pod *param)
{
    auto *s = static_cast<PipeWireDriver::Stream *>(data);
    if (id != SPA_PARAM_Format)
        return;
    s->negotiated = param ? negotiatedFormat(param) : std::nullopt;
    std::uint8_t buffer[512];
    spa_pod_builder builder {};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    if (s->negotiated && *s->negotiated != s->wanted && !s->askedAgain) {
        // A source left set up by its last consumer hands a new one that format, whatever it
        // asked for. Offering our format anew makes the link renegotiate both ends.
        qCDebug(lcCapture, "PipeWire source gave %dx%d for %dx%d; asking again",
                s->negotiated->format.width, s->negotiated->format.height, s->wanted.format.width,
                s->wanted.format.height);
        s->askedAgain = true;
        s->negotiated.reset();
        const spa_pod *params[1] = {fixedFormatPod(s->wanted, builder)};
        if (params[0])
            pw_stream_update_params(s->stream, params, 1);
        return;
    }
    if (param && !s->negotiated) {
        pw_stream_set_error(s->stream, -EINVAL, "format not taken");
    } else if (s->negotiated) {
        const spa_pod *params[1] = {bufferParamsPod(builder)};
        if (params[0])
            pw_stream_update_params(s->stream, params, 1);
    }
    pw_thread_loop_signal(s->session->loop(), false);
}

void onProcess(void *data)
{
    auto *s = static_cast<PipeWireDriver::Stream *>(data);
    // Only the newest frame matters: older ones go straight back.
    pw_buffer *newest = nullptr;
    while (pw_buffer *buffer = pw_stream_dequeue_buffer(s->stream)) {
        if (newest)
            pw_stream_queue_buffer(s->stream, newest);
        newest = buffer;
    }
    if (!newest)
        return;
    const spa_buffer *buffer = newest->buffer;
    if (s->negotiated && buffer && buffer->n_datas > 0 && buffer->datas[0].data
        && buffer->datas[0].chunk) {
        const spa_data &plane = buffer->datas[0];
        const spa_chunk &chunk = *plane.chunk;
        // The chunk says where the frame lies in the buffer; never trust it past the buffer.
        const std::uint32_t offset = std::min(chunk.offset, plane.maxsize);
        const std::uint32_t size = std::min(chunk.size, plane.maxsize - offset);
        if (size > 0 && size <= kMaxFrameBytes && !(chunk.flags & SPA_CHUNK_FLAG_CORRUPTED)) {
            const auto *bytes = static_cast<const std::uint8_t *>(plane.data) + offset;
            s->slot.assign(bytes, bytes + size);
            s->slotStride = chunk.stride > 0 ? std::uint32_t(chunk.stride) : 0;
            s->slotFormat = *s->negotiated;
            ++s->seq;
            pw_thread_loop_signal(s->session->loop(), false);
        }
    }
    pw_stream_queue_buffer(s->stream, newest);
}

const pw_stream_events kStreamEvents = [] {
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    return events;
}();

} // namespace

PipeWireDriver::PipeWireDriver(std::string nodeName) : m_name(std::move(nodeName))
{ }

PipeWireDriver::~PipeWireDriver()
{
    disconnect();
}

int PipeWireDriver::connect()
{
    disconnect();
    m_session = currentPipeWireSession();
    if (!m_session)
        return -ENODEV;
    {
        PipeWireSession::Lock lock(*m_session);
        const PipeWireSession::Node *node = m_session->camera(m_name);
        if (!node || m_session->broken()) {
            m_session.reset();
            return -ENODEV;
        }
        m_serial = node->serial;
        m_nodeId = node->id;
        m_offers = m_session->formatsOf(*node).offers;
        m_controls = node->controls;
    }
    if (m_offers.empty()) {
        qCInfo(lcCapture, "PipeWire camera %s offers no format we can use", m_name.c_str());
        disconnect();
        return -ENODEV;
    }
    m_connectedAt = std::chrono::steady_clock::now();
    const int result = startStream(m_offers.front());
    if (result != 0) {
        qCInfo(lcCapture, "cannot start PipeWire camera %s: %d", m_name.c_str(), result);
        disconnect();
        return result;
    }
    m_connected = true;
    return 0;
}

void PipeWireDriver::disconnect()
{
    stopStream();
    m_session.reset();
    m_connected = false;
    m_lost = false;
    m_offers.clear();
    m_controls.clear();
    m_values.clear();
    m_offer = {};
}

int PipeWireDriver::startStream(const PipeWireOffer &offer)
{
    auto state = std::make_unique<Stream>();
    state->session = m_session.get();
    state->wanted = offer;
    PipeWireSession::Lock lock(*m_session);
    if (goneLocked())
        return -ENODEV;
    pw_properties *props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_TARGET_OBJECT, m_serial.c_str(), PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    state->stream = pw_stream_new(m_session->core(), "vedereve-capture", props);
    if (!state->stream)
        return -errno;
    pw_stream_add_listener(state->stream, &state->listener, &kStreamEvents, state.get());
    std::uint8_t buffer[512];
    spa_pod_builder builder {};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    const spa_pod *params[1] = {fixedFormatPod(offer, builder)};
    // Never another camera in its place when this one leaves.
    const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                                       | PW_STREAM_FLAG_DONT_RECONNECT);
    int result = params[0]
        ? pw_stream_connect(state->stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1)
        : -EINVAL;
    Stream *s = state.get();
    m_stream = std::move(state);
    if (result < 0)
        return result;
    // A session manager links the stream to its target; without one (a bare daemon) we link it
    // ourselves once our node exists. A portal's restricted connection is refused that, quietly:
    // a portal comes with a session manager.
    const auto linked = [&] {
        const std::uint32_t self = pw_stream_get_node_id(s->stream);
        return s->failed || s->negotiated || goneLocked()
            || (self != SPA_ID_INVALID && m_session->linkedInto(self));
    };
    m_session->waitFor(
        [&] { return linked() || pw_stream_get_node_id(s->stream) != SPA_ID_INVALID; },
        kNegotiationWaitMs);
    if (m_session->managed())
        m_session->waitFor(linked, kLinkWaitMs);
    const std::uint32_t self = pw_stream_get_node_id(s->stream);
    if (!linked() && self != SPA_ID_INVALID) {
        const std::string output = std::to_string(m_nodeId), input = std::to_string(self);
        pw_properties *linkProps
            = pw_properties_new(PW_KEY_LINK_OUTPUT_NODE, output.c_str(), PW_KEY_LINK_INPUT_NODE,
                                input.c_str(), PW_KEY_OBJECT_LINGER, "false", nullptr);
        s->link = static_cast<pw_proxy *>(
            pw_core_create_object(m_session->core(), "link-factory", PW_TYPE_INTERFACE_Link,
                                  PW_VERSION_LINK, &linkProps->dict, 0));
        pw_properties_free(linkProps);
    }
    m_session->waitFor([&] { return s->failed || s->negotiated || goneLocked(); },
                       kNegotiationWaitMs);
    if (s->failed)
        return -EIO;
    if (goneLocked())
        return -ENODEV;
    m_offer = s->negotiated ? *s->negotiated : offer;
    m_seenSeq = s->seq;
    return 0;
}

void PipeWireDriver::stopStream()
{
    if (!m_stream)
        return;
    std::unique_ptr<Stream> s = std::move(m_stream);
    PipeWireSession::Lock lock(*m_session);
    if (s->link)
        pw_proxy_destroy(s->link);
    if (!s->stream)
        return;
    spa_hook_remove(&s->listener);
    pw_stream_disconnect(s->stream);
    // The stream's data thread hands each frame to this loop through the loop's queue, with the
    // stream's address; one queued before the disconnect and run after the stream is freed
    // would use freed memory. Whatever is queued runs first; a stream whose queue does not
    // empty in time is left as it is, disconnected, rather than freed under a pending call.
    if (!m_session->flushLoopQueue(kFlushWaitMs)) {
        qCWarning(lcCapture, "PipeWire loop busy: a stopped stream of %s is left allocated",
                  m_name.c_str());
        return;
    }
    pw_stream_destroy(s->stream);
}

bool PipeWireDriver::goneLocked() const
{
    if (m_session->broken())
        return true;
    const PipeWireSession::Node *node = m_session->camera(m_name);
    // A node that left and came back is another node (another serial): the stream is gone with
    // the old one.
    if (!node || node->serial != m_serial)
        return true;
    return m_stream && (m_stream->failed || m_stream->state == PW_STREAM_STATE_UNCONNECTED);
}

void PipeWireDriver::becomeLost()
{
    if (m_lost)
        return;
    qCInfo(lcCapture, "PipeWire camera %s is gone", m_name.c_str());
    stopStream();
    // The session may be an old one (the daemon went away); it ends once nothing holds it.
    m_session.reset();
    m_lost = true;
    reportError(ENODEV, "The camera " + m_name + " was disconnected.");
}

std::vector<VideoFormat> PipeWireDriver::formats() const
{
    std::vector<VideoFormat> formats;
    if (!m_connected)
        return formats;
    for (const PipeWireOffer &offer : m_offers)
        formats.push_back(offer.format);
    return formats;
}

int PipeWireDriver::setFormat(const VideoFormat &wanted)
{
    if (!m_connected || m_lost)
        return m_lost ? -ENODEV : -ENOTCONN;
    const std::vector<VideoFormat> offered = formats();
    const std::optional<VideoFormat> choice = nearestFormat(offered, wanted, m_offer.format);
    if (!choice)
        return -EINVAL;
    if (*choice == m_offer.format)
        return 0;
    const auto offer = std::find_if(m_offers.begin(), m_offers.end(),
                                    [&](const PipeWireOffer &o) { return o.format == *choice; });
    if (offer == m_offers.end())
        return -EINVAL;
    const PipeWireOffer previous = m_offer;
    int result = renegotiate(*offer);
    if (result == 0)
        return 0;
    qCInfo(lcCapture, "PipeWire camera %s refused a format: %d", m_name.c_str(), result);
    // A stream that failed is started anew, in the format it had.
    stopStream();
    if (result == -ENODEV || startStream(previous) == -ENODEV)
        becomeLost();
    return result;
}

int PipeWireDriver::renegotiate(const PipeWireOffer &offer)
{
    // A new stream with the new format: asking a running stream for another format through its
    // parameters left some sources without frames at all.
    stopStream();
    return startStream(offer);
}

GrabbedFrame PipeWireDriver::grab()
{
    if (!m_connected || m_lost)
        return {};
    PipeWireOffer offer;
    std::uint32_t stride = 0;
    bool gone = false;
    {
        PipeWireSession::Lock lock(*m_session);
        if (m_stream) {
            Stream &s = *m_stream;
            m_session->waitFor([&] { return s.seq != m_seenSeq || goneLocked(); }, kGrabWaitMs);
            gone = goneLocked();
            // The producer may settle on another format than asked for, later too.
            if (s.negotiated)
                m_offer = *s.negotiated;
            // A frame still in the format before a change is not handed out as one in the new.
            if (!gone && s.seq != m_seenSeq) {
                m_seenSeq = s.seq;
                if (s.slotFormat == m_offer) {
                    // The slot's vector is swapped out, not copied: the callback refills the one
                    // it gets back without allocating.
                    m_taken.swap(s.slot);
                    stride = s.slotStride;
                    offer = s.slotFormat;
                }
            }
        }
    }
    if (gone) {
        becomeLost();
        return {};
    }
    if (offer.format.width == 0)
        return {};
    return deliver(offer, stride);
}

GrabbedFrame PipeWireDriver::deliver(const PipeWireOffer &offer, std::uint32_t stride)
{
    const FormatInfo *info = formatInfo(offer.format);
    if (!info)
        return {};
    const DeviceBytes bytes = offer.mjpg
        ? DeviceBytes::AsFrame
        : formatForDevice(v4l2CodeOfSpaFormat(offer.spaFormat)).value_or(DeviceFormat {}).bytes;
    const std::uint32_t line
        = std::max(stride, minimumDeviceLine(*info, std::uint32_t(offer.format.width)));
    GrabbedFrame frame;
    frame.timeCapturedMs = std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - m_connectedAt)
                                             .count());
    frame.bytes = deliveredFrame(offer.format, bytes, line, m_taken, m_converted);
    if (!frame.bytes.empty())
        return frame;
    qCDebug(lcCapture, "PipeWire camera %s: damaged or short frame of %zu bytes dropped",
            m_name.c_str(), m_taken.size());
    return {};
}

std::optional<std::int32_t> PipeWireDriver::control(std::uint32_t id) const
{
    if (!m_connected || m_lost)
        return std::nullopt;
    const auto it = std::find_if(m_controls.begin(), m_controls.end(),
                                 [id](const DriverControl &c) { return c.id == id; });
    if (it == m_controls.end())
        return std::nullopt;
    const auto value = m_values.find(id);
    return value != m_values.end() ? value->second : it->defaultValue;
}

int PipeWireDriver::setControl(std::uint32_t id, std::int32_t value)
{
    if (!m_connected || m_lost)
        return m_lost ? -ENODEV : -ENOTCONN;
    const auto it = std::find_if(m_controls.begin(), m_controls.end(),
                                 [id](const DriverControl &c) { return c.id == id; });
    if (it == m_controls.end())
        return -EINVAL;
    const std::int32_t clamped = std::clamp(value, it->minimum, it->maximum);
    std::uint8_t buffer[256];
    spa_pod_builder builder {};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    const spa_pod *pod = propsPod(propOfControlId(id), it->kind, clamped, builder);
    if (!pod)
        return -EINVAL;
    int result = 0;
    {
        PipeWireSession::Lock lock(*m_session);
        result = m_session->setNodeParam(m_name, SPA_PARAM_Props, pod);
    }
    if (result < 0)
        return result;
    m_values[id] = clamped;
    return 0;
}

} // namespace platform::vfw
