#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>

// Skin pictures from the optional resource library that the settings name
// (SettingKeys::ResourceFile).

// The library, or 0 when the setting is empty or the file cannot be opened as one.
std::uint32_t LoadResourceLibrary();
// The picture stored under name (looked up in upper case, resource type "WAVE"), or nothing when
// the library has no such resource or it is no picture.
std::optional<QImage> LoadResourcePicture(std::uint32_t handle, const QString &name);
// Releases a library that LoadResourceLibrary gave; 0 is ignored.
void FreeResourceLibrary(std::uint32_t handle);
