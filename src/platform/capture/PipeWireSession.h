#pragma once

#include "platform/capture/PipeWireFormats.h"
#include "platform/capture/PipeWireSource.h"

#include <pipewire/pipewire.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The connection to a PipeWire daemon behind the PipeWire cameras: a thread loop, the core, and
// the daemon's camera nodes with their formats and controls, kept live by the registry's
// events. The loop's thread runs every callback with the loop's lock held; every other thread
// takes the lock (Lock) around each call into the library and each read of what the callbacks
// write, and waits on the loop, never inside a callback.
namespace platform::vfw {

class PipeWireSession final
{
public:
    struct Node
    {
        PipeWireSession *session = nullptr;
        std::uint32_t id = 0;
        pw_proxy *proxy = nullptr;
        spa_hook listener {};
        bool camera = false; // a video source with the camera role
        std::string name;
        std::string key; // names the camera in the list: the name, unique by a number
        std::string description;
        std::string serial;
        std::string devicePath;
        PipeWireFormats formats; // what the node itself answers (Video4Linux nodes)
        std::vector<DriverControl> controls;
        int formatSeq = -1;
        int controlSeq = -1;
    };
    struct Port
    {
        std::uint32_t id = 0;
        std::uint32_t nodeId = 0;
        pw_proxy *proxy = nullptr;
        spa_hook listener {};
        PipeWireFormats formats;
        int formatSeq = -1;
    };

    class Lock final
    {
    public:
        explicit Lock(const PipeWireSession &session) : m_loop(session.m_loop)
        {
            pw_thread_loop_lock(m_loop);
        }
        ~Lock() { pw_thread_loop_unlock(m_loop); }
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pw_thread_loop *m_loop;
    };

    // A session over the descriptor (taken over), or a direct connection for fd < 0. nullptr and
    // a negative errno in error when the daemon cannot be reached.
    static std::shared_ptr<PipeWireSession> connect(int fd, int &error);
    ~PipeWireSession();
    PipeWireSession(const PipeWireSession &) = delete;
    PipeWireSession &operator=(const PipeWireSession &) = delete;

    pw_thread_loop *loop() const { return m_loop; }
    pw_core *core() const { return m_core; }

    // The rest under the lock.
    // The daemon went away, or the session was dropped for another one.
    bool broken() const { return m_broken; }
    void drop();
    // The camera node listed under key.
    const Node *camera(const std::string &key) const;
    std::string freeKey(const std::string &name) const;
    // What the node offers, from the node and its output ports.
    PipeWireFormats formatsOf(const Node &node) const;
    bool linkedInto(std::uint32_t nodeId) const;
    // A session manager runs: it links new streams to their targets.
    bool managed() const { return !m_managerMetadata.empty(); }
    // Waits until done() is true or the time is up, on the loop; true when done.
    template<class Done> bool waitFor(Done done, int ms) const
    {
        timespec until {};
        pw_thread_loop_get_time(m_loop, &until, std::int64_t(ms) * SPA_NSEC_PER_MSEC);
        while (!done()) {
            if (pw_thread_loop_timed_wait_full(m_loop, &until) != 0)
                return done();
        }
        return true;
    }
    int setNodeParam(const std::string &name, std::uint32_t id, const spa_pod *param);
    // Waits until what other threads queued for the loop's thread before this call has run;
    // false when that took longer than ms or could not be asked.
    bool flushLoopQueue(int ms);

    // Takes the lock; waits for the daemon's first list (bounded).
    std::vector<PipeWireCamera> cameras();

private:
    PipeWireSession() = default;

    static void onCoreDone(void *data, std::uint32_t id, int seq);
    static void onCoreError(void *data, std::uint32_t id, int seq, int res, const char *message);
    static void onGlobal(void *data, std::uint32_t id, std::uint32_t permissions, const char *type,
                         std::uint32_t version, const spa_dict *props);
    static void onGlobalRemove(void *data, std::uint32_t id);
    static void onNodeInfo(void *data, const pw_node_info *info);
    static void onNodeParam(void *data, int seq, std::uint32_t id, std::uint32_t index,
                            std::uint32_t next, const spa_pod *param);
    static void onPortParam(void *data, int seq, std::uint32_t id, std::uint32_t index,
                            std::uint32_t next, const spa_pod *param);
    static int onQueueFlushed(spa_loop *loop, bool async, std::uint32_t seq, const void *data,
                              std::size_t size, void *user);
    void resync();
    static void forget(Node &node);
    static void forget(Port &port);

    pw_thread_loop *m_loop = nullptr;
    pw_context *m_context = nullptr;
    pw_core *m_core = nullptr;
    pw_registry *m_registry = nullptr;
    spa_hook m_coreListener {};
    spa_hook m_registryListener {};
    bool m_broken = false;
    int m_syncSeq = 0;
    std::uint64_t m_flushAsked = 0;
    std::uint64_t m_flushDone = 0;
    bool m_listed = false; // the daemon answered everything asked so far at least once
    bool m_answered = false; // ... and has answered everything asked since
    std::chrono::steady_clock::time_point m_connectedAt;
    std::map<std::uint32_t, std::unique_ptr<Node>> m_nodes;
    std::map<std::uint32_t, std::unique_ptr<Port>> m_ports;
    std::map<std::uint32_t, std::uint32_t> m_linkInputs; // link id: the node it feeds
    // The session manager's "default" metadata objects: a session manager made them.
    std::vector<std::uint32_t> m_managerMetadata;
};

// The session current now, connected when needed with the chosen settings; nullptr without
// PipeWire. Failed attempts are retried only after a pause, so that listing the cameras stays
// cheap on a machine without a daemon.
std::shared_ptr<PipeWireSession> currentPipeWireSession();

} // namespace platform::vfw
