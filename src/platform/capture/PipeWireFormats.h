#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/FormatTable.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct spa_pod;
struct spa_pod_builder;

// What a PipeWire camera node's parameters mean in the capture driver's terms: its offered
// formats (EnumFormat) mapped onto the format table's rows, the fixed format a stream asks for,
// and its controls (PropInfo) as driver controls under their Video4Linux control ids. Pure: no
// daemon involved.
namespace platform::vfw {

struct PipeWireOffer
{
    VideoFormat format;
    std::uint32_t spaFormat = 0; // the raw video format; 0 for a JPEG stream
    bool mjpg = false;

    friend bool operator==(const PipeWireOffer &, const PipeWireOffer &) = default;
};

struct PipeWireFormats
{
    std::vector<PipeWireOffer> offers; // what we decode, each format at each size
    std::vector<PictureKind> kinds; // what the pictures of every offered format show
};

// Adds what one EnumFormat (or Format) parameter offers: its default format at its default size
// first. Sizes given as a range become the common camera sizes inside it, plus the default.
void addEnumFormat(const spa_pod *param, PipeWireFormats &out);

// The Video4Linux code of a raw video format, for the format table; 0 for one we know nothing of.
std::uint32_t v4l2CodeOfSpaFormat(std::uint32_t spaFormat);

// The format as the stream negotiated it: a Format parameter. Nothing for one we do not decode.
std::optional<PipeWireOffer> negotiatedFormat(const spa_pod *param);

// A Format parameter that fixes format and size, built into builder; nullptr when it does not fit.
const spa_pod *fixedFormatPod(const PipeWireOffer &offer, spa_pod_builder &builder);
// The buffer parameters a stream answers a format with: memory we can read without mapping it
// ourselves (no DMA buffers).
const spa_pod *bufferParamsPod(spa_pod_builder &builder);

// A control from a PropInfo parameter: integers, switches and menus; nothing for others.
std::optional<DriverControl> controlFromPropInfo(const spa_pod *param);
// A control's Video4Linux id for a node property and back.
std::uint32_t controlIdOfProp(std::uint32_t spaProp);
std::uint32_t propOfControlId(std::uint32_t controlId);
// A Props parameter that sets one control, built into builder.
const spa_pod *propsPod(std::uint32_t spaProp, DriverControl::Kind kind, std::int32_t value,
                        spa_pod_builder &builder);

} // namespace platform::vfw
