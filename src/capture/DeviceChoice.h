#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The capture drivers as the device menu lists them, and which one is the chosen device.
namespace capture {

struct DriverListing
{
    std::string caption; // the driver's description
    std::string identity; // names the device itself, whatever index it has now; may be empty
    bool standardCamera = false; // a standard (USB video class) camera
};

// Driver indices 0 to 9 as the capture platform lists them now.
std::vector<DriverListing> listDrivers();

struct DeviceChoice
{
    std::int32_t index = -1;
    bool save = false; // the index (and its device's identity) is to be saved
};

// With nothing saved (savedIndex -1) the first standard camera is chosen: a driver marked as one,
// or whose caption names the standard camera driver ("Microsoft WDM", any case). A saved device
// identity wins over a saved index that moved: the device is chosen where it is listed now, and
// the new index is to be saved. Otherwise the saved index stands as it is, also when it names no
// driver (a stored picture, or nothing).
DeviceChoice chooseDevice(std::span<const DriverListing> drivers, std::int32_t savedIndex,
                          std::string_view savedIdentity);

} // namespace capture
