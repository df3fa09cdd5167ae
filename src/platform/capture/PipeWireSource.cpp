#include "platform/capture/PipeWireSource.h"

#include "platform/capture/CaptureLog.h"
#include "platform/capture/PipeWireDriver.h"
#include "platform/capture/PipeWirePortal.h"
#include "platform/capture/PipeWireSession.h"

#include <pipewire/extensions/metadata.h>
#include <spa/param/param.h>
#include <spa/utils/keys.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

// The library's method calls are macros made of GNU statement expressions.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif

namespace platform::vfw {

namespace {

// The longest the first list waits for the daemon's answers after connecting.
constexpr int kFirstListWaitMs = 1000;
// The longest a later list waits for what the daemon has still to say about new nodes.
constexpr int kNewCameraWaitMs = 100;
// A failed connection is tried again only after this pause: the device list is asked for once
// per driver index, and a machine without a daemon must not pay for a connection attempt each
// time.
constexpr auto kRetryPause = std::chrono::seconds(2);

std::string_view text(const spa_dict *props, const char *key)
{
    const char *value = props ? spa_dict_lookup(props, key) : nullptr;
    return value ? std::string_view(value) : std::string_view();
}

} // namespace

// ---- the session ------------------------------------------------------------------------------

std::shared_ptr<PipeWireSession> PipeWireSession::connect(int fd, int &error)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] {
        pw_init(nullptr, nullptr);
        // The library reports a missing daemon on stderr; no daemon is normal here.
        if (!std::getenv("PIPEWIRE_DEBUG"))
            pw_log_set_level(SPA_LOG_LEVEL_NONE);
    });
    std::shared_ptr<PipeWireSession> session(new PipeWireSession);
    session->m_loop = pw_thread_loop_new("vedereve-pipewire", nullptr);
    if (!session->m_loop) {
        error = -errno;
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    session->m_context = pw_context_new(pw_thread_loop_get_loop(session->m_loop), nullptr, 0);
    if (!session->m_context || pw_thread_loop_start(session->m_loop) < 0) {
        // A bare install without the client configuration the library ships gives no
        // context: no PipeWire cameras.
        error = errno ? -errno : -EIO;
        if (fd >= 0)
            ::close(fd);
        qCInfo(lcCapture, "no PipeWire client context: %d", error);
        return nullptr;
    }
    Lock lock(*session);
    session->m_core = fd >= 0 ? pw_context_connect_fd(session->m_context, fd, nullptr, 0)
                              : pw_context_connect(session->m_context, nullptr, 0);
    if (!session->m_core) {
        error = errno ? -errno : -EIO;
        qCDebug(lcCapture, "no PipeWire daemon: %d", error);
        return nullptr;
    }
    static const pw_core_events coreEvents = [] {
        pw_core_events events {};
        events.version = PW_VERSION_CORE_EVENTS;
        events.done = &PipeWireSession::onCoreDone;
        events.error = &PipeWireSession::onCoreError;
        return events;
    }();
    pw_core_add_listener(session->m_core, &session->m_coreListener, &coreEvents, session.get());
    session->m_registry = pw_core_get_registry(session->m_core, PW_VERSION_REGISTRY, 0);
    if (!session->m_registry) {
        error = -errno;
        return nullptr;
    }
    static const pw_registry_events registryEvents = [] {
        pw_registry_events events {};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = &PipeWireSession::onGlobal;
        events.global_remove = &PipeWireSession::onGlobalRemove;
        return events;
    }();
    pw_registry_add_listener(session->m_registry, &session->m_registryListener, &registryEvents,
                             session.get());
    session->m_connectedAt = std::chrono::steady_clock::now();
    session->resync();
    error = 0;
    return session;
}

PipeWireSession::~PipeWireSession()
{
    if (m_loop && m_context) {
        {
            Lock lock(*this);
            for (auto &[id, port] : m_ports)
                forget(*port);
            for (auto &[id, node] : m_nodes)
                forget(*node);
            m_ports.clear();
            m_nodes.clear();
            if (m_registry) {
                spa_hook_remove(&m_registryListener);
                pw_proxy_destroy(reinterpret_cast<pw_proxy *>(m_registry));
            }
            if (m_core) {
                spa_hook_remove(&m_coreListener);
                pw_core_disconnect(m_core);
            }
        }
        pw_thread_loop_stop(m_loop);
    }
    if (m_context)
        pw_context_destroy(m_context);
    if (m_loop)
        pw_thread_loop_destroy(m_loop);
}

void PipeWireSession::drop()
{
    m_broken = true;
    pw_thread_loop_signal(m_loop, false);
}

void PipeWireSession::resync()
{
    m_syncSeq = pw_core_sync(m_core, PW_ID_CORE, m_syncSeq);
    m_answered = false;
}

void PipeWireSession::onCoreDone(void *data, std::uint32_t id, int seq)
{
    auto *self = static_cast<PipeWireSession *>(data);
    if (id == PW_ID_CORE && seq == self->m_syncSeq) {
        self->m_listed = true;
        self->m_answered = true;
        pw_thread_loop_signal(self->m_loop, false);
    }
}

void PipeWireSession::onCoreError(void *data, std::uint32_t id, int seq, int res,
                                  const char *message)
{
    auto *self = static_cast<PipeWireSession *>(data);
    qCDebug(lcCapture, "PipeWire error on %u (%d): %d %s", id, seq, res, message ? message : "");
    // The connection itself failed: the daemon is gone. Errors on our own objects (a stream, a
    // link) reach their owners through their own events.
    if (id == PW_ID_CORE && (res == -EPIPE || res == -ECONNRESET || res == -ENOTCONN)) {
        self->m_broken = true;
        pw_thread_loop_signal(self->m_loop, false);
    }
}

void PipeWireSession::onGlobal(void *data, std::uint32_t id, std::uint32_t, const char *type,
                               std::uint32_t, const spa_dict *props)
{
    auto *self = static_cast<PipeWireSession *>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        // Only video sources are watched; a node that does not say what it is could be one.
        const std::string_view mediaClass = text(props, PW_KEY_MEDIA_CLASS);
        if ((!mediaClass.empty() && mediaClass != "Video/Source") || self->m_nodes.contains(id))
            return;
        auto node = std::make_unique<Node>();
        node->session = self;
        node->id = id;
        node->proxy = static_cast<pw_proxy *>(
            pw_registry_bind(self->m_registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        if (!node->proxy)
            return;
        static const pw_node_events nodeEvents = [] {
            pw_node_events events {};
            events.version = PW_VERSION_NODE_EVENTS;
            events.info = &PipeWireSession::onNodeInfo;
            events.param = &PipeWireSession::onNodeParam;
            return events;
        }();
        pw_proxy_add_object_listener(node->proxy, &node->listener, &nodeEvents, node.get());
        self->m_nodes.emplace(id, std::move(node));
        self->resync();
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        // The formats of test sources and of sources other programs provide are answered by
        // their output ports only.
        const std::string_view direction = text(props, PW_KEY_PORT_DIRECTION);
        const std::string nodeId(text(props, PW_KEY_NODE_ID));
        const std::uint32_t owner = std::uint32_t(std::strtoul(nodeId.c_str(), nullptr, 10));
        if (direction != "out" || !self->m_nodes.contains(owner) || self->m_ports.contains(id))
            return;
        auto port = std::make_unique<Port>();
        port->id = id;
        port->nodeId = owner;
        port->proxy = static_cast<pw_proxy *>(
            pw_registry_bind(self->m_registry, id, PW_TYPE_INTERFACE_Port, PW_VERSION_PORT, 0));
        if (!port->proxy)
            return;
        static const pw_port_events portEvents = [] {
            pw_port_events events {};
            events.version = PW_VERSION_PORT_EVENTS;
            events.param = &PipeWireSession::onPortParam;
            return events;
        }();
        pw_proxy_add_object_listener(port->proxy, &port->listener, &portEvents, port.get());
        port->formatSeq = pw_port_enum_params(reinterpret_cast<pw_port *>(port->proxy), 1,
                                              SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
        self->m_ports.emplace(id, std::move(port));
        self->resync();
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
        if (text(props, PW_KEY_METADATA_NAME) == "default")
            self->m_managerMetadata.push_back(id);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
        const std::string input(text(props, PW_KEY_LINK_INPUT_NODE));
        if (!input.empty())
            self->m_linkInputs[id] = std::uint32_t(std::strtoul(input.c_str(), nullptr, 10));
        pw_thread_loop_signal(self->m_loop, false);
    }
}

void PipeWireSession::onGlobalRemove(void *data, std::uint32_t id)
{
    auto *self = static_cast<PipeWireSession *>(data);
    if (const auto node = self->m_nodes.find(id); node != self->m_nodes.end()) {
        qCDebug(lcCapture, "PipeWire node %s left", node->second->name.c_str());
        forget(*node->second);
        self->m_nodes.erase(node);
    }
    if (const auto port = self->m_ports.find(id); port != self->m_ports.end()) {
        forget(*port->second);
        self->m_ports.erase(port);
    }
    self->m_linkInputs.erase(id);
    std::erase(self->m_managerMetadata, id);
    // Drivers waiting for frames of a node that left stop waiting.
    pw_thread_loop_signal(self->m_loop, false);
}

void PipeWireSession::forget(Node &node)
{
    if (node.proxy) {
        spa_hook_remove(&node.listener);
        pw_proxy_destroy(std::exchange(node.proxy, nullptr));
    }
}

void PipeWireSession::forget(Port &port)
{
    if (port.proxy) {
        spa_hook_remove(&port.listener);
        pw_proxy_destroy(std::exchange(port.proxy, nullptr));
    }
}

void PipeWireSession::onNodeInfo(void *data, const pw_node_info *info)
{
    auto *node = static_cast<Node *>(data);
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) && info->props) {
        const spa_dict *props = info->props;
        node->name = text(props, PW_KEY_NODE_NAME);
        node->description = text(props, PW_KEY_NODE_DESCRIPTION);
        if (node->description.empty())
            node->description = node->name;
        node->serial = text(props, PW_KEY_OBJECT_SERIAL);
        node->devicePath = text(props, SPA_KEY_API_V4L2_PATH);
        const std::string_view objectPath = text(props, PW_KEY_OBJECT_PATH);
        if (node->devicePath.empty() && objectPath.starts_with("v4l2:"))
            node->devicePath = objectPath.substr(5);
        node->camera = text(props, PW_KEY_MEDIA_CLASS) == "Video/Source"
            && text(props, PW_KEY_MEDIA_ROLE) == "Camera" && !node->name.empty();
        if (node->camera && node->key.empty())
            node->key = node->session->freeKey(node->name);
    }
    if (!node->camera || !(info->change_mask & PW_NODE_CHANGE_MASK_PARAMS))
        return;
    // Video4Linux nodes answer their formats and controls themselves, once they can be read.
    // Asked once: what a camera offers does not change while it is there, and a list emptied
    // for a new answer would drop a camera in use from the device list for that moment.
    for (std::uint32_t i = 0; i < info->n_params; ++i) {
        const spa_param_info &param = info->params[i];
        if (!(param.flags & SPA_PARAM_INFO_READ))
            continue;
        auto *proxy = reinterpret_cast<pw_node *>(node->proxy);
        if (param.id == SPA_PARAM_EnumFormat && node->formatSeq < 0) {
            node->formatSeq
                = pw_node_enum_params(proxy, 2, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
        } else if (param.id == SPA_PARAM_PropInfo && node->controlSeq < 0) {
            node->controlSeq
                = pw_node_enum_params(proxy, 3, SPA_PARAM_PropInfo, 0, UINT32_MAX, nullptr);
        }
    }
    // The list is complete once these answers are in.
    node->session->resync();
}

void PipeWireSession::onNodeParam(void *data, int seq, std::uint32_t id, std::uint32_t,
                                  std::uint32_t, const spa_pod *param)
{
    auto *node = static_cast<Node *>(data);
    if (id == SPA_PARAM_EnumFormat && seq == node->formatSeq) {
        addEnumFormat(param, node->formats);
    } else if (id == SPA_PARAM_PropInfo && seq == node->controlSeq) {
        std::optional<DriverControl> control = controlFromPropInfo(param);
        if (control && node->controls.size() < 256
            && std::none_of(node->controls.begin(), node->controls.end(),
                            [&](const DriverControl &c) { return c.id == control->id; })) {
            node->controls.push_back(std::move(*control));
        }
    }
}

void PipeWireSession::onPortParam(void *data, int seq, std::uint32_t id, std::uint32_t,
                                  std::uint32_t, const spa_pod *param)
{
    auto *port = static_cast<Port *>(data);
    if (id == SPA_PARAM_EnumFormat && seq == port->formatSeq)
        addEnumFormat(param, port->formats);
}

std::string PipeWireSession::freeKey(const std::string &name) const
{
    // Programs that provide sources name their nodes after themselves unless told otherwise;
    // a later node of a name already listed is told apart by a number.
    std::string key = name;
    for (int n = 2; camera(key); ++n)
        key = name + "#" + std::to_string(n);
    return key;
}

const PipeWireSession::Node *PipeWireSession::camera(const std::string &key) const
{
    for (const auto &[id, node] : m_nodes) {
        if (node->camera && node->key == key)
            return node.get();
    }
    return nullptr;
}

PipeWireFormats PipeWireSession::formatsOf(const Node &node) const
{
    PipeWireFormats formats = node.formats;
    for (const auto &[id, port] : m_ports) {
        if (port->nodeId != node.id)
            continue;
        for (const PipeWireOffer &offer : port->formats.offers) {
            if (std::find(formats.offers.begin(), formats.offers.end(), offer)
                == formats.offers.end())
                formats.offers.push_back(offer);
        }
        formats.kinds.insert(formats.kinds.end(), port->formats.kinds.begin(),
                             port->formats.kinds.end());
    }
    return formats;
}

bool PipeWireSession::linkedInto(std::uint32_t nodeId) const
{
    return std::any_of(m_linkInputs.begin(), m_linkInputs.end(),
                       [&](const auto &link) { return link.second == nodeId; });
}

int PipeWireSession::setNodeParam(const std::string &name, std::uint32_t id, const spa_pod *param)
{
    const Node *node = camera(name);
    if (!node || !node->proxy)
        return -ENODEV;
    return pw_node_set_param(reinterpret_cast<pw_node *>(node->proxy), id, 0, param);
}

bool PipeWireSession::flushLoopQueue(int ms)
{
    const std::uint64_t ticket = ++m_flushAsked;
    // The ticket travels as a copy in the queue; the session outlives the loop's thread.
    if (pw_loop_invoke(pw_thread_loop_get_loop(m_loop), &PipeWireSession::onQueueFlushed, 0,
                       &ticket, sizeof ticket, false, this)
        < 0)
        return false;
    return waitFor([&] { return m_flushDone >= ticket; }, ms);
}

int PipeWireSession::onQueueFlushed(spa_loop *, bool, std::uint32_t, const void *data,
                                    std::size_t size, void *user)
{
    auto *self = static_cast<PipeWireSession *>(user);
    std::uint64_t ticket = 0;
    std::memcpy(&ticket, data, std::min(size, sizeof ticket));
    self->m_flushDone = std::max(self->m_flushDone, ticket);
    pw_thread_loop_signal(self->m_loop, false);
    return 0;
}

std::vector<PipeWireCamera> PipeWireSession::cameras()
{
    Lock lock(*this);
    if (!m_listed) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - m_connectedAt)
                                .count();
        waitFor([this] { return m_listed || m_broken; },
                int(std::max<std::int64_t>(0, kFirstListWaitMs - waited)));
        // Asked and not answered in time: the list stands as it is from now on.
        m_listed = true;
    } else if (!m_answered) {
        // A camera just plugged in is listed once its formats are known, a moment later.
        waitFor([this] { return m_answered || m_broken; }, kNewCameraWaitMs);
    }
    std::vector<PipeWireCamera> cameras;
    if (m_broken)
        return cameras;
    for (const auto &[id, node] : m_nodes) {
        if (!node->camera)
            continue;
        const PipeWireFormats formats = formatsOf(*node);
        cameras.push_back({node->key, node->description, node->devicePath, formats.kinds,
                           !formats.offers.empty()});
    }
    std::sort(cameras.begin(), cameras.end(),
              [](const PipeWireCamera &a, const PipeWireCamera &b) { return a.name < b.name; });
    return cameras;
}

// ---- the process's session --------------------------------------------------------------------

namespace {

struct SessionManager
{
    std::mutex mutex;
    PipeWireConnection connection;
    bool descriptorUsed = false; // a handed-in descriptor serves one session
    std::shared_ptr<PipeWireSession> session;
    std::chrono::steady_clock::time_point retryAt;
};

SessionManager &manager()
{
    static SessionManager instance;
    return instance;
}

// What the settings and the environment ask for now.
PipeWireConnection effectiveConnection(const PipeWireConnection &chosen)
{
    if (chosen.mode != PipeWireConnection::Mode::Automatic)
        return chosen;
    if (const char *off = std::getenv("VEDEREVE_PIPEWIRE"); off && std::string_view(off) == "off")
        return {PipeWireConnection::Mode::Off, -1};
    if (const char *fd = std::getenv("VEDEREVE_PIPEWIRE_FD"); fd && *fd) {
        char *end = nullptr;
        const long number = std::strtol(fd, &end, 10);
        if (*end == '\0' && number >= 0 && number < 65536)
            return {PipeWireConnection::Mode::Fd, int(number)};
    }
    return chosen;
}

bool sandboxed()
{
    return ::access("/.flatpak-info", F_OK) == 0;
}

// Where the library looks for the daemon's socket (it says only that it found none).
bool daemonSocketExists()
{
    const char *remote = std::getenv("PIPEWIRE_REMOTE");
    std::string path = remote && *remote ? remote : "pipewire-0";
    if (!path.starts_with('/')) {
        const char *dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (!dir || !*dir)
            dir = std::getenv("XDG_RUNTIME_DIR");
        if (!dir || !*dir)
            return false;
        path = std::string(dir) + "/" + path;
    }
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::shared_ptr<PipeWireSession> connectSession(SessionManager &m)
{
    const PipeWireConnection connection = effectiveConnection(m.connection);
    int error = 0;
    switch (connection.mode) {
    case PipeWireConnection::Mode::Off:
        return nullptr;
    case PipeWireConnection::Mode::Fd: {
        if (m.descriptorUsed || connection.fd < 0)
            return nullptr;
        m.descriptorUsed = true;
        const int fd = ::fcntl(connection.fd, F_DUPFD_CLOEXEC, 3);
        if (fd < 0)
            return nullptr;
        return PipeWireSession::connect(fd, error);
    }
    case PipeWireConnection::Mode::Automatic:
        break;
    }
    // A descriptor the portal handed us since the last attempt.
    if (const int fd = takePortalDescriptor(); fd >= 0) {
        if (auto session = PipeWireSession::connect(fd, error))
            return session;
    }
    if (!sandboxed()) {
        if (auto session = PipeWireSession::connect(-1, error))
            return session;
        // No socket at all: no daemon, and so no camera the portal could offer either. A daemon
        // that refuses us may still serve the portal.
        if (!daemonSocketExists())
            return nullptr;
    }
    requestPortalDescriptor();
    return nullptr;
}

} // namespace

std::shared_ptr<PipeWireSession> currentPipeWireSession()
{
    SessionManager &m = manager();
    std::lock_guard guard(m.mutex);
    if (m.session) {
        PipeWireSession::Lock lock(*m.session);
        if (!m.session->broken())
            return m.session;
    }
    m.session.reset();
    const auto now = std::chrono::steady_clock::now();
    if (now < m.retryAt && !portalDescriptorWaiting())
        return nullptr;
    m.session = connectSession(m);
    if (!m.session)
        m.retryAt = now + kRetryPause;
    return m.session;
}

void setPipeWireConnection(PipeWireConnection connection)
{
    SessionManager &m = manager();
    std::lock_guard guard(m.mutex);
    if (m.session) {
        PipeWireSession::Lock lock(*m.session);
        m.session->drop();
    }
    // Open drivers keep the old session alive until they let go; their streams end now.
    m.session.reset();
    m.connection = connection;
    m.descriptorUsed = false;
    m.retryAt = {};
}

std::vector<PipeWireCamera> pipeWireCameras()
{
    const std::shared_ptr<PipeWireSession> session = currentPipeWireSession();
    return session ? session->cameras() : std::vector<PipeWireCamera>();
}

std::unique_ptr<CaptureDriver> openPipeWireCamera(std::string name)
{
    return std::make_unique<PipeWireDriver>(std::move(name));
}

} // namespace platform::vfw
