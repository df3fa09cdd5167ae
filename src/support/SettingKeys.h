#pragma once

#include <QLatin1StringView>
#include <QString>

// The names of the component's own settings: one section below the company's key, and the values
// in it. Everything that reads or writes them, the component and its tools alike, takes the names
// from here.
namespace SettingKeys {

inline constexpr QLatin1StringView Defaults {"Defaults"};

// The chosen entry of the device menu as decimal text, "-1" for none.
inline constexpr QLatin1StringView WebCamDevice {"WebCamDevice"};
// The identity of the capture device that WebCamDevice names; empty for a picture or none.
inline constexpr QLatin1StringView WebCamDeviceId {"WebCamDeviceId"};
// The path of the resource library with the skin pictures; set by whoever installs one.
inline constexpr QLatin1StringView ResourceFile {"ResourceFile"};

// The stored pictures that can stand in for a camera, newest in slot 1.
inline constexpr int WebCamPicSlots = 4;
inline QString WebCamPic(int slot)
{
    return QStringLiteral("WebCamPic%1").arg(slot);
}

} // namespace SettingKeys
