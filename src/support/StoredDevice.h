#pragma once

#include <cstdint>
#include <string>

// The chosen entry of the device menu, as the settings keep it: its index and, for a capture
// device, that device's own identity (SettingKeys::WebCamDevice and WebCamDeviceId), saved
// together so that a camera whose index moved (re-plugged, another camera added) is found again.
namespace StoredDevice {

// index -1 for none; identity empty for a stored picture or none.
void save(std::int32_t index, const std::string &identity = {});
// The index saved, -1 when none was. A number rounds half to even; text that is not a number, or
// a number out of range, gives 0.
std::int32_t index();
// The identity saved with the index; empty when none was.
std::string identity();

} // namespace StoredDevice
