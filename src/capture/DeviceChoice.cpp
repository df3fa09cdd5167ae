#include "capture/DeviceChoice.h"

#include <QString>

#include "platform/capture/Drivers.h"

namespace capture {

std::vector<DriverListing> listDrivers()
{
    std::vector<DriverListing> drivers;
    for (const platform::vfw::DriverEntry &entry : platform::vfw::captureDrivers())
        drivers.push_back({entry.description.name, entry.identity, entry.standardCamera});
    return drivers;
}

DeviceChoice chooseDevice(std::span<const DriverListing> drivers, std::int32_t savedIndex,
                          std::string_view savedIdentity)
{
    if (savedIndex == -1) {
        for (std::size_t i = 0; i < drivers.size(); ++i) {
            const QString caption = QString::fromLocal8Bit(drivers[i].caption);
            if (drivers[i].standardCamera
                || caption.contains(QLatin1StringView("Microsoft WDM"), Qt::CaseInsensitive))
                return {std::int32_t(i), true};
        }
        return {-1, false};
    }
    if (!savedIdentity.empty()) {
        for (std::size_t i = 0; i < drivers.size(); ++i) {
            if (drivers[i].identity == savedIdentity)
                return {std::int32_t(i), std::int32_t(i) != savedIndex};
        }
    }
    return {savedIndex, false};
}

} // namespace capture
