#include "support/StoredDevice.h"

#include <cmath>

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

std::int32_t index()
{
    const QString saved = CRegSettings().GetSetting(
        SettingKeys::Defaults, SettingKeys::WebCamDevice, QStringLiteral("-1"));
    bool isNumber = false;
    const double value = saved.trimmed().toDouble(&isNumber);
    return isNumber && std::isfinite(value) && std::fabs(value) < 2147483647.0
        ? static_cast<std::int32_t>(std::nearbyint(value))
        : 0;
}

std::string identity()
{
    return CRegSettings()
        .GetSetting(SettingKeys::Defaults, SettingKeys::WebCamDeviceId, QString())
        .toStdString();
}

} // namespace StoredDevice
