#pragma once

#include <array>

#include "panel/VbControls.h"

class QWidget;

// The panel's controls, as fields of the names the form gives them, and their layout: which
// container holds each, its place in pixels and its fixed looks (captions, colours, tool tips).
// The panel derives from it, so its code names the controls as the form does.
struct PanelControls
{
    // Makes every control inside panel, each with its object name, and gives it its fixed looks;
    // the stores are hidden.
    void makeControls(QWidget &panel);
    // Places every control where the layout says and gives the labels their fonts at the
    // screen's resolution.
    void placeControls(QWidget &panel);

    // In layout order: the containers come before what they hold.
    vb::PictureBox *picMainDown = nullptr;
    vb::PictureBox *picMainUp = nullptr;
    vb::PictureBox *picTmp = nullptr;
    vb::PictureBox *DefaultPic = nullptr;
    vb::PictureBox *picMain = nullptr;
    vb::PictureBox *picTabMain = nullptr;
    vb::PictureBox *picSettingsMain = nullptr;
    vb::PictureBox *picParticipant = nullptr;
    vb::ImageControl *imgChk = nullptr;
    vb::Label *lblDisable = nullptr;
    vb::PictureBox *picWebCam = nullptr;
    vb::Label *lblParticipant = nullptr;
    vb::Label *lblLocation = nullptr;
    vb::ImageControl *imgCamOnMain = nullptr;
    vb::ImageControl *imgCamOffMain = nullptr;
    vb::ImageControl *imgBrand = nullptr;
    vb::Label *lblStatus = nullptr;
    vb::ImageControl *imgMinMax = nullptr;
    vb::ImageControl *imgStretch = nullptr;
    vb::ImageControl *imgOriginal = nullptr;
    std::array<vb::ImageControl *, 2> img = {};
    vb::ImageControl *PicTabWebcam = nullptr;
    vb::ImageControl *picTabParticipant = nullptr;
    vb::ImageControl *picStopCam = nullptr;
    std::array<vb::ImageControl *, 2> imgCamStop = {};
    std::array<vb::ImageControl *, 2> ImgCamOn = {};
    vb::ImageControl *imgDArrow = nullptr;
    vb::ImageControl *imgUpArrow = nullptr;
};
