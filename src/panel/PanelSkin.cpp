#include "panel/PanelSkin.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

#include "panel/VbControls.h"
#include "skin/SkinPictures.h"
#include "support/ResourcePictures.h"

namespace PanelSkin {
namespace {

// The control that shows a skin picture: "img0" names the array element img(0).
QString controlNameOfSkin(std::string_view skinName)
{
    QString name = QString::fromLatin1(skinName.data(), qsizetype(skinName.size()));
    if (!name.isEmpty() && name.back().isDigit() && name.size() > 1
        && !name[name.size() - 2].isDigit())
        name = name.chopped(1) + u'(' + name.back() + u')';
    return name;
}

void assign(QWidget &panel, const std::function<std::optional<QImage>(std::string_view)> &source,
            bool keepMissing)
{
    // In the order of the skin's list, which is the order a resource library replaces them in.
    for (const skin::SkinPicture &entry : skin::skinPictures) {
        std::optional<QImage> picture = source(entry.name);
        if (!picture && keepMissing)
            continue;
        auto *control = dynamic_cast<vb::ControlBase *>(
            panel.findChild<QWidget *>(controlNameOfSkin(entry.name)));
        if (control)
            control->setPicture(picture.value_or(QImage()));
    }
}

} // namespace

void assignBuiltIn(QWidget &panel)
{
    static const bool registered = [] {
        initBuiltInSkin();
        return true;
    }();
    Q_UNUSED(registered);
    assign(
        panel,
        [](std::string_view name) -> std::optional<QImage> {
            QImage picture(skin::builtInSkinPath(name));
            return picture.isNull() ? std::nullopt : std::optional(picture);
        },
        true);
}

void assignFromResourceLibrary(QWidget &panel)
{
    const std::uint32_t library = LoadResourceLibrary();
    if (library == 0)
        return;
    assign(
        panel,
        [library](std::string_view name) {
            return LoadResourcePicture(library, skin::skinResourceName(name));
        },
        false);
    FreeResourceLibrary(library);
}

} // namespace PanelSkin
