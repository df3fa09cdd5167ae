#include "panel/StillPicture.h"

#include <cmath>
#include <optional>

#include "capture/FormatNegotiation.h"
#include "platform/picture/PictureLoader.h"
#include "support/cDibSection.h"

namespace {

std::int32_t roundHalfEven(double value)
{
    return std::int32_t(std::nearbyint(value));
}

void fitPicture(vb::ImageControl *source, vb::ImageControl *stretcher, vb::PictureBox *canvas)
{
    const QImage picture = source->Picture();
    const capture::FittedSize fitted = capture::fitPictureSize(picture.width(), picture.height());
    stretcher->Stretch = true;
    stretcher->place(stretcher->x(), stretcher->y(), fitted.width, fitted.height);
    stretcher->setPicture(picture);
    const std::int32_t x = roundHalfEven((176 - fitted.width) / 2.0);
    const std::int32_t y = roundHalfEven((144 - fitted.height) / 2.0);
    canvas->setPicture(QImage());
    canvas->place(canvas->x(), canvas->y(), 176, 144);
    canvas->Cls();
    canvas->PaintPicture(stretcher->Picture(), x, y, fitted.width, fitted.height);
    canvas->keepDrawing();
}

} // namespace

bool makeStillPicture(const QString &path, const StillPictureStores &stores, cDibSection &bitmap)
{
    const std::optional<QImage> loaded = platform::picture::loadFromFile(path);
    stores.original->setPicture(loaded.value_or(QImage()));
    if (!loaded)
        return false;
    fitPicture(stores.original, stores.stretcher, stores.canvas);

    // The canvas holds the picture fitted and centred in the 176 x 144 area; the part that is
    // sent is what lies in that area.
    vb::PictureBox *canvas = stores.canvas;
    const std::int32_t W = canvas->width();
    const std::int32_t H = canvas->height();
    const std::int32_t x = W < 176 ? roundHalfEven((176 - W) / 2.0) : 0;
    const std::int32_t y = H < 144 ? roundHalfEven((144 - H) / 2.0) : 0;
    const std::int32_t w = W < 176 ? W : 176;
    const std::int32_t h = H < 144 ? H : 144;
    if (!bitmap.Create(w, h, 24))
        return false;
    bitmap.LoadPictureBlt(canvas->hDC(), 0, 0, w, h, platform::gdi::SRCCOPY);
    canvas->place(canvas->x(), canvas->y(), 176, 144);
    canvas->setPicture(QImage());
    canvas->Cls();
    bitmap.PaintPicture(canvas->hDC(), x, y, w, h, 0, 0, platform::gdi::SRCCOPY);
    canvas->keepDrawing();
    return true;
}
