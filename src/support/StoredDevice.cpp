#include "support/StoredDevice.h"

#include "support/CRegSettings.h"
#include "support/SettingKeys.h"

namespace StoredDevice {

void save(std::int32_t index, const std::string &identity)
{
    CRegSettings settings;
    settings.SaveSetting(SettingKeys::Defaults, SettingKeys::WebCamDevice, QString::number(index));
    settings.SaveSetting(SettingKeys::Defaults, SettingKeys::WebCamDeviceId,
                         QString::fromStdString(identity));
}

std::string identity()
{
    return CRegSettings()
        .GetSetting(SettingKeys::Defaults, SettingKeys::WebCamDeviceId, QString())
        .toStdString();
}

} // namespace StoredDevice
