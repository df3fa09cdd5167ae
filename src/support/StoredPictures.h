#pragma once

#include <QString>

#include <cstdint>

// The pictures that can stand in for a camera: up to SettingKeys::WebCamPicSlots paths in the
// settings, newest in slot 1. The device menu lists, after the capture devices, the slots whose
// file is usable (PictureFileUsable), in slot order.
namespace StoredPictures {

// The path in slot k, the empty text when it holds none.
QString at(int k);
// The index the device menu gives the picture of slot k, the last capture device being at
// lastDriverIndex: emptied or unusable slots before k have no entry, so they do not count.
std::int32_t entryIndex(int k, std::int32_t lastDriverIndex);
// The first slot the device menu lists whose path is path in any letter case, or 0.
int listedSlotOf(const QString &path);
// path becomes slot 1; the others move down one slot, and the last one's path falls off.
void add(const QString &path);
// Empties the first slot that holds exactly path; the others keep their slots.
void remove(const QString &path);

} // namespace StoredPictures
