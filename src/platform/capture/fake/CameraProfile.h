#pragma once

#include "platform/capture/fake/FakeV4l2.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Camera profiles: data files that describe camera nodes for the fake device layer, so that the
// real driver code can run against what real cameras report and how they behave. The format is
// documented in docs/camera-check.md ("Camera profiles"): [device] sections of "key = value"
// lines, the formats pasted from `v4l2-ctl --list-formats-ext` after "formats:", the controls
// pasted from `v4l2-ctl --list-ctrls-menus` after "controls:".
namespace platform::vfw::fake {

struct ProfileError
{
    int line = 0;
    std::string message;
};

// The devices of one profile, each camera node followed by its metadata node where it has one;
// or where the text first fails to parse.
struct ParsedProfile
{
    std::vector<FakeDeviceProfile> devices;
    std::optional<ProfileError> error;
};
ParsedProfile parseCameraProfile(std::string_view text);

// The profiles named by VEDEREVE_CAMERA_PROFILES (file paths separated by ':'), on a fake device
// layer with the real clock, in place of the system's cameras. False, with a message on standard
// error, when the variable is set and a profile cannot be read; nothing changes when it is unset.
bool installCameraProfilesFromEnvironment();

} // namespace platform::vfw::fake
