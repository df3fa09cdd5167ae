#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/PipeWireFormats.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A camera node of the PipeWire daemon behind the capture driver interface. The daemon pushes
// frames into a stream; the stream's callback keeps the newest one in a slot with a sequence
// number, and a grab takes it, waiting at most kGrabWaitMs for one it has not seen. A node that
// leaves gives the stream no error, only silence: its leaving the daemon's list makes the driver
// lost.
namespace platform::vfw {

class PipeWireSession;

class PipeWireDriver final : public CaptureDriver
{
public:
    explicit PipeWireDriver(std::string nodeName);
    ~PipeWireDriver() override;

    int connect() override;
    void disconnect() override;
    bool isConnected() const override { return m_connected; }

    std::vector<VideoFormat> formats() const override;
    VideoFormat format() const override { return m_offer.format; }
    int setFormat(const VideoFormat &wanted) override;
    GrabbedFrame grab() override;
    bool lost() const override { return m_lost; }

    std::vector<DriverControl> controls() const override { return m_controls; }
    std::optional<std::int32_t> control(std::uint32_t id) const override;
    int setControl(std::uint32_t id, std::int32_t value) override;

    // How long a stream may take to be linked and to agree on a format before connect() or
    // setFormat() return; frames may still come later, within the start bound.
    static constexpr int kNegotiationWaitMs = 1500;
    // How long a session manager gets to link a new stream before the driver links it itself.
    static constexpr int kLinkWaitMs = 1000;
    // The longest a stopped stream waits for the loop to run what was queued for it.
    static constexpr int kFlushWaitMs = 2000;

    struct Stream; // what the stream's callbacks share with the driver, under the loop's lock

private:
    int startStream(const PipeWireOffer &offer);
    // Asks the running stream for another format.
    int renegotiate(const PipeWireOffer &offer);
    void stopStream();
    // Under the loop's lock: whether the node, the stream or the session is gone.
    bool goneLocked() const;
    void becomeLost();
    GrabbedFrame deliver(const PipeWireOffer &offer, std::uint32_t stride);

    std::string m_name;
    std::shared_ptr<PipeWireSession> m_session;
    std::string m_serial; // of the node as it was when connected
    std::uint32_t m_nodeId = 0;
    bool m_connected = false;
    bool m_lost = false;
    std::vector<PipeWireOffer> m_offers;
    PipeWireOffer m_offer; // the format asked for, then as negotiated
    std::unique_ptr<Stream> m_stream;
    std::vector<DriverControl> m_controls;
    // The daemon's answers about controls are stale; what was last set is what the camera has.
    std::map<std::uint32_t, std::int32_t> m_values;
    std::uint64_t m_seenSeq = 0;
    std::vector<std::uint8_t> m_taken; // the frame taken from the slot
    std::vector<std::uint8_t> m_converted;
    std::chrono::steady_clock::time_point m_connectedAt;
};

} // namespace platform::vfw
