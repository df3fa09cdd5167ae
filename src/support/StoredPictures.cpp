#include "support/StoredPictures.h"

#include "support/CRegSettings.h"
#include "support/PathHelpers.h"
#include "support/SettingKeys.h"

using SettingKeys::Defaults;
using SettingKeys::WebCamPic;
using SettingKeys::WebCamPicSlots;

namespace StoredPictures {

QString at(int k)
{
    return CRegSettings().GetSetting(Defaults, WebCamPic(k));
}

std::int32_t entryIndex(int k, std::int32_t lastDriverIndex)
{
    std::int32_t index = lastDriverIndex + 1;
    for (int j = 1; j < k; ++j) {
        if (PictureFileUsable(at(j)))
            ++index;
    }
    return index;
}

int listedSlotOf(const QString &path)
{
    for (int k = 1; k <= WebCamPicSlots; ++k) {
        const QString stored = at(k);
        if (stored.compare(path, Qt::CaseInsensitive) == 0 && PictureFileUsable(stored))
            return k;
    }
    return 0;
}

void add(const QString &path)
{
    CRegSettings settings;
    for (int k = WebCamPicSlots - 1; k >= 1; --k) {
        const QString stored = settings.GetSetting(Defaults, WebCamPic(k));
        if (!stored.isEmpty())
            settings.SaveSetting(Defaults, WebCamPic(k + 1), stored);
    }
    settings.SaveSetting(Defaults, WebCamPic(1), path);
}

void remove(const QString &path)
{
    CRegSettings settings;
    for (int k = 1; k <= WebCamPicSlots; ++k) {
        if (settings.GetSetting(Defaults, WebCamPic(k)) == path) {
            settings.SaveSetting(Defaults, WebCamPic(k), QString());
            return;
        }
    }
}

} // namespace StoredPictures
