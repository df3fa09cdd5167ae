#pragma once

#include <cstdint>
#include <string>

// The chosen entry of the device menu, as the settings keep it: its index ("WebCamDevice") and,
// for a capture device, that device's own identity ("WebCamDeviceId"), saved together so that a
// camera whose index moved (re-plugged, another camera added) is found again.
namespace StoredDevice {

// index -1 for none; identity empty for a stored picture or none.
void save(std::int32_t index, const std::string &identity = {});
// The identity saved with the index; empty when none was.
std::string identity();

} // namespace StoredDevice
