#include "panel/PanelControls.h"

#include <type_traits>

#include "support/ScreenDpi.h"

namespace {

// One row of the layout: the control's name, its container (none: the panel itself), its place
// in pixels, and how to make it. makeControls creates the controls and placeControls places them
// by walking the same rows.
struct ControlRow
{
    const char *name;
    vb::PictureBox *PanelControls::*container;
    int left, top, width, height;
    vb::ControlBase *(*make)(PanelControls &controls, QWidget *parent, const QString &name);
};

// The widget type a control field holds.
template<class Slot> using ControlOf = std::remove_pointer_t<std::remove_cvref_t<Slot>>;

#define VEDEREVE_CONTROL(field)                                                                    \
    [](PanelControls &c, QWidget *parent, const QString &name) -> vb::ControlBase * {              \
        auto *control = new ControlOf<decltype(c.field)>(parent, name);                            \
        c.field = control;                                                                         \
        return control;                                                                            \
    }
using P = PanelControls;
// The containers come before what they hold; the stores lie outside the visible 202 x 215.
const ControlRow controlRows[] = {
    {"picMainDown", nullptr, 435, 241, 202, 17, VEDEREVE_CONTROL(picMainDown)},
    {"picMainUp", nullptr, 434, 17, 202, 215, VEDEREVE_CONTROL(picMainUp)},
    {"picTmp", nullptr, 325, 440, 50, 29, VEDEREVE_CONTROL(picTmp)},
    {"DefaultPic", nullptr, 260, 440, 50, 29, VEDEREVE_CONTROL(DefaultPic)},
    {"picMain", nullptr, 0, 0, 202, 215, VEDEREVE_CONTROL(picMain)},
    {"picTabMain", &P::picMain, 1, 19, 200, 191, VEDEREVE_CONTROL(picTabMain)},
    {"picSettingsMain", &P::picTabMain, 117, 169, 66, 18, VEDEREVE_CONTROL(picSettingsMain)},
    {"picParticipant", &P::picTabMain, 13, 22, 174, 144, VEDEREVE_CONTROL(picParticipant)},
    {"imgChk", &P::picParticipant, 156, 3, 13, 13, VEDEREVE_CONTROL(imgChk)},
    {"lblDisable", &P::picParticipant, 15, 2, 138, 14, VEDEREVE_CONTROL(lblDisable)},
    {"picWebCam", &P::picTabMain, 13, 22, 174, 144, VEDEREVE_CONTROL(picWebCam)},
    {"lblParticipant", &P::picTabMain, 86, 3, 94, 13, VEDEREVE_CONTROL(lblParticipant)},
    {"lblLocation", &P::picTabMain, 13, 167, 174, 22, VEDEREVE_CONTROL(lblLocation)},
    {"imgCamOnMain", &P::picTabMain, 13, 169, 20, 18, VEDEREVE_CONTROL(imgCamOnMain)},
    {"imgCamOffMain", &P::picTabMain, 37, 169, 19, 18, VEDEREVE_CONTROL(imgCamOffMain)},
    {"imgBrand", &P::picMain, 4, 3, 14, 12, VEDEREVE_CONTROL(imgBrand)},
    {"lblStatus", &P::picMain, 104, 4, 78, 11, VEDEREVE_CONTROL(lblStatus)},
    {"imgMinMax", &P::picMain, 185, 3, 12, 12, VEDEREVE_CONTROL(imgMinMax)},
    {"imgStretch", nullptr, 593, 451, 29, 15, VEDEREVE_CONTROL(imgStretch)},
    {"imgOriginal", nullptr, 592, 430, 29, 15, VEDEREVE_CONTROL(imgOriginal)},
    {"img(1)", nullptr, 453, 374, 13, 13, VEDEREVE_CONTROL(img[1])},
    {"img(0)", nullptr, 453, 343, 13, 13, VEDEREVE_CONTROL(img[0])},
    {"PicTabWebcam", nullptr, 216, 15, 200, 191, VEDEREVE_CONTROL(PicTabWebcam)},
    {"picTabParticipant", nullptr, 218, 229, 200, 191, VEDEREVE_CONTROL(picTabParticipant)},
    {"picStopCam", nullptr, 21, 237, 176, 144, VEDEREVE_CONTROL(picStopCam)},
    {"imgCamStop(1)", nullptr, 98, 443, 19, 18, VEDEREVE_CONTROL(imgCamStop[1])},
    {"ImgCamOn(1)", nullptr, 72, 443, 20, 18, VEDEREVE_CONTROL(ImgCamOn[1])},
    {"imgCamStop(0)", nullptr, 48, 443, 19, 18, VEDEREVE_CONTROL(imgCamStop[0])},
    {"ImgCamOn(0)", nullptr, 22, 443, 20, 18, VEDEREVE_CONTROL(ImgCamOn[0])},
    {"imgDArrow", nullptr, 50, 409, 12, 12, VEDEREVE_CONTROL(imgDArrow)},
    {"imgUpArrow", nullptr, 28, 410, 12, 12, VEDEREVE_CONTROL(imgUpArrow)},
};
#undef VEDEREVE_CONTROL

} // namespace

void PanelControls::makeControls(QWidget &panel)
{
    for (const ControlRow &row : controlRows) {
        QWidget *container = row.container ? static_cast<QWidget *>(this->*row.container) : &panel;
        vb::ControlBase *control = row.make(*this, container, QString::fromLatin1(row.name));
        // Stores only hold pictures; nobody ever sees them. Whatever lies outside the visible
        // area of the panel is one.
        auto *widget = dynamic_cast<QWidget *>(control);
        if (!row.container && (row.left >= 202 || row.top >= 215))
            widget->hide();
    }

    picMain->AutoSize = true;
    picParticipant->setBackColor(Qt::white);
    picWebCam->setBackColor(Qt::white);
    lblDisable->setCaption(QStringLiteral("Receiving has been disabled"));
    lblDisable->hide();
    lblParticipant->setCaption(QStringLiteral("Participant cam"));
    lblLocation->hide();
    lblStatus->setForeColor(QColor(0x60, 0x60, 0x60));
    imgChk->setToolTipText(QStringLiteral("Disable receiving"));
    imgCamOnMain->setToolTipText(QStringLiteral("Play"));
    imgCamOffMain->setToolTipText(QStringLiteral("Pause"));
    for (QWidget *webcamTab :
         std::initializer_list<QWidget *> {picSettingsMain, picWebCam, imgCamOnMain, imgCamOffMain})
        webcamTab->hide();
    for (QWidget *clickable :
         std::initializer_list<QWidget *> {picSettingsMain, imgCamOnMain, imgCamOffMain, imgMinMax})
        clickable->setCursor(Qt::PointingHandCursor);
    // The buttons look pressed while held: Play and Pause for the left button, the settings
    // button for any.
    imgCamOnMain->PressedLook = imgCamOffMain->PressedLook = vb::vbLeftButton;
    picSettingsMain->PressedLook = vb::vbLeftButton | vb::vbRightButton | vb::vbMiddleButton;
}

void PanelControls::placeControls(QWidget &panel)
{
    for (const ControlRow &row : controlRows) {
        auto *control = dynamic_cast<vb::ControlBase *>(
            panel.findChild<QWidget *>(QString::fromLatin1(row.name)));
        control->place(row.left, row.top, row.width, row.height);
    }
    const QFont large = ArialAtScreenDpi(8.25);
    const QFont small = ArialAtScreenDpi(6.75);
    lblDisable->setFont(large);
    lblParticipant->setFont(large);
    lblLocation->setFont(small);
    lblStatus->setFont(small);
}
