#pragma once

#include <QString>

#include <array>
#include <string_view>

// The panel's skin: the pictures a resource library may replace, in the order the panel assigns
// them, with the size of each built-in picture. The file name of a built-in picture and the tail
// of its library resource name are both the control name (arrays carry their index: "img0").
namespace skin {

struct SkinPicture
{
    std::string_view name;
    int width;
    int height;
};

#include "skin/SkinPictureList.h"

// Resource type and name prefix of the pictures inside a resource library.
inline constexpr std::string_view skinResourceType = "WAVE";
inline constexpr std::string_view skinResourcePrefix = "VEDerEve_cveDerEve1_";

// ":/skin/<name>.png", the compiled-in picture of a control.
inline QString builtInSkinPath(std::string_view name)
{
    return QStringLiteral(":/skin/") + QString::fromLatin1(name.data(), qsizetype(name.size()))
        + QStringLiteral(".png");
}

// "VEDerEve_cveDerEve1_<name>", the name the panel asks a resource library for.
inline QString skinResourceName(std::string_view name)
{
    return QString::fromLatin1(skinResourcePrefix.data(), qsizetype(skinResourcePrefix.size()))
        + QString::fromLatin1(name.data(), qsizetype(name.size()));
}

} // namespace skin

// Registers the compiled-in skin pictures under ":/skin/". A static library's resources are
// dropped by the linker unless something references them, so call this once before use.
void initBuiltInSkin();
