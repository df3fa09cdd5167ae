#include "support/ResourcePictures.h"

#include "platform/picture/PictureLoader.h"
#include "platform/resources/ResourceLibrary.h"
#include "support/CRegSettings.h"
#include "support/SettingKeys.h"

std::uint32_t LoadResourceLibrary()
{
    const QString file
        = CRegSettings().GetSetting(SettingKeys::Defaults, SettingKeys::ResourceFile, QString());
    if (file.isEmpty())
        return 0;
    return platform::ResourceLibrary::open(file);
}

std::optional<QImage> LoadResourcePicture(std::uint32_t handle, const QString &name)
{
    const auto resource
        = platform::ResourceLibrary::findResource(handle, QStringLiteral("WAVE"), name.toUpper());
    if (!resource || platform::ResourceLibrary::size(*resource) < 1)
        return std::nullopt;
    const QByteArray bytes = platform::ResourceLibrary::bytes(*resource);
    return platform::picture::loadFromBytes(
        reinterpret_cast<const std::uint8_t *>(bytes.constData()),
        static_cast<std::size_t>(bytes.size()));
}

void FreeResourceLibrary(std::uint32_t handle)
{
    if (handle != 0)
        platform::ResourceLibrary::close(handle);
}
