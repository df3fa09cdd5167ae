#pragma once

#include <QString>

#include "panel/VbControls.h"

class cDibSection;

// A picture file made into the still picture that the webcam tab shows and sends: fitted into
// the 176 x 144 area with its aspect ratio kept and centred there. The drawing goes through the
// panel's stores, controls that hold pictures and are never seen.
struct StillPictureStores
{
    vb::ImageControl *original; // the file's picture as it loaded
    vb::ImageControl *stretcher; // the picture at its fitted size
    vb::PictureBox *canvas; // the 176 x 144 area: what the webcam tab shows
};

// Loads path into the original store (nothing when it does not load) and, when it loads, draws
// it fitted on the canvas and copies the canvas into bitmap, 24 bits deep. False when the file
// does not load or the bitmap cannot be made.
bool makeStillPicture(const QString &path, const StillPictureStores &stores, cDibSection &bitmap);
