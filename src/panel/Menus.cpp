// The settings menu and the context menu: their entries, their openers and their commands.

#include <QClipboard>
#include <QGuiApplication>

#include <variant>

#include "base/ExceptionFilter.h"
#include "capture/CaptureCommands.h"
#include "panel/FileDialogs.h"
#include "panel/cveDerEve.h"
#include "support/CRegSettings.h"
#include "support/PathHelpers.h"
#include "support/SettingKeys.h"
#include "support/StoredDevice.h"
#include "support/StoredPictures.h"
#include "support/cDibSection.h"

using ExceptionFilter::Guarded;
using namespace Qt::Literals::StringLiterals;
using SettingKeys::Defaults;

namespace {

const QString kParticipantCam = QStringLiteral("Participant cam");
constexpr std::int32_t kMyPictures = 39;

// The name a saved picture is offered under: the part of path before its first dot.
QString bitmapNameFor(const QString &path)
{
    const qsizetype dot = path.indexOf(u'.');
    return (dot < 0 ? path : path.left(dot)) + QStringLiteral(".bmp");
}

void putOnClipboard(const QImage &picture)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(picture);
}

// One row of the menus: the entry's name, its caption and access key (the first letter of the
// first occurrence of that text in the caption), the entry it belongs to (none: a pop-up menu of
// its own), its kind, its handler with the value it is given (an array's handler is given the
// index of the entry chosen), and what its tool tip says while it is disabled. Rows come in the
// order the menus show them, each after the entry it belongs to.
struct MenuRow
{
    using Command = void (cveDerEve::*)();
    using Choice = void (cveDerEve::*)(std::int32_t value);

    const char *name;
    const char *caption;
    const char *accessKey;
    const char *parent;
    vb::MenuKind kind;
    std::variant<std::monostate, Command, Choice> handler = {};
    std::int32_t value = 0;
    const char *disabledToolTip = nullptr;
};

} // namespace

void cveDerEve::buildMenus()
{
    using enum vb::MenuKind;
    using P = cveDerEve;
    static const MenuRow rows[] = {
        {"mnu_Main", "mnuMain", "", nullptr, Submenu},
        {"mnu_Device", "Device", "D", "mnu_Main", Submenu},
        {"mnuDevices", "webcam driver not found", "", "mnu_Device", Array, &P::mnuDevices_Click},
        {"mnu_blnk", "-", "", "mnu_Main", Separator},
        {"mnuLoadPic", "Load a Picture..", "L", "mnu_Main", Entry, &P::mnuLoadPic_Click},
        {"mnuClearPic", "Remove Picture", "R", "mnu_Main", Entry, &P::mnuClearPic_Click},
        {"mnublank", "-", "", "mnu_Main", Separator},
        {"mnu_Destination", "Destination area", "area", "mnu_Main", Submenu},
        {"mnuParticipant", "Output to webcam participant area (default)", "participant",
         "mnu_Destination", Entry, &P::chooseDestination, 8},
        {"mnuWBBottomRight", "Output to white board bottom right", "bottom", "mnu_Destination",
         Entry, &P::chooseDestination, 24},
        {"mnuWBCenter", "Output to white board center", "center", "mnu_Destination", Entry,
         &P::chooseDestination, 40},
        {"mnu_CaptureRate",
         "Capture rate",
         "C",
         "mnu_Main",
         Submenu,
         {},
         0,
         "A picture is sent once; the capture rate applies to a camera"},
        {"mnuRate2sec", "every 2 seconds", "2", "mnu_CaptureRate", Entry, &P::chooseRate, 2000},
        {"mnuRate5sec", "every 5 seconds", "5", "mnu_CaptureRate", Entry, &P::chooseRate, 5000},
        {"mnuRateFast", "as fast as possible", "fast", "mnu_CaptureRate", Entry, &P::chooseRate, 0},
        {"mnu_blank", "-", "", "mnu_Main", Separator},
        {"mnuPixelDepth", "Size && pixel depth", "S", "mnu_Main", Entry, &P::mnuPixelDepth_Click, 0,
         "Start the camera to change its picture size and pixel depth"},
        {"mnuSource", "Gamma, contrast, hue...", "G", "mnu_Main", Entry, &P::mnuSource_Click, 0,
         "Start the camera to change its brightness, contrast and colours"},

        {"mnuContext", "mnuContext", "", nullptr, Submenu},
        {"mnuCopy", "Copy", "C", "mnuContext", Entry, &P::mnuCopy_Click},
        {"mnublnk", "-", "", "mnuContext", Separator},
        {"mnuSave", "Save as..", "S", "mnuContext", Entry, &P::mnuSave_Click},
        {"mnub", "-", "", "mnuContext", Separator},
        {"mnuClear", "Clear", "l", "mnuContext", Entry, &P::mnuclear_Click, 0,
         "Pause the camera to clear the preview"},
    };
    for (const MenuRow &row : rows) {
        const QString name = QString::fromLatin1(row.name);
        const QString caption = QString::fromLatin1(row.caption);
        const QString parent = QString::fromLatin1(row.parent);
        const auto *choice = std::get_if<MenuRow::Choice>(&row.handler);
        if (row.kind == Array) {
            m_menus.addArray(name, caption, parent).Click
                = [this, handler = *choice](int Index) { (this->*handler)(Index); };
            continue;
        }
        vb::MenuEntry &entry = m_menus.add(row.kind, name, caption, parent);
        entry.AccessKey = QString::fromLatin1(row.accessKey);
        entry.DisabledToolTip = QString::fromLatin1(row.disabledToolTip);
        if (const auto *command = std::get_if<MenuRow::Command>(&row.handler))
            entry.Click = [this, handler = *command] { (this->*handler)(); };
        else if (choice)
            entry.Click = [this, handler = *choice, value = row.value] { (this->*handler)(value); };
    }

    picSettingsMain->Click = [this] { picSettingsMain_Click(); };
    picParticipant->MouseUp
        = [this](int b, int s, int x, int y) { picParticipant_MouseUp(b, s, x, y); };
    picWebCam->MouseUp = [this](int b, int s, int x, int y) { picWebCam_MouseUp(b, s, x, y); };
}

// ---------------------------------------------------------------------------------------------
// Openers

void cveDerEve::picSettingsMain_Click()
{
    const bool running = m_Capture.CameraOn();
    m_menus[u"mnuSource"].Enabled = running;
    m_menus[u"mnuPixelDepth"].Enabled = running;
    // While the menu is open the camera keeps grabbing but sends nothing.
    if (running)
        m_MenuOpen = true;
    if (DeviceIndex != -1) {
        if (const vb::MenuEntry *entry = mnuDevices().at(DeviceIndex)) {
            // A picture is sent once, so it has no capture rate.
            m_menus[u"mnu_CaptureRate"].Enabled = entry->Tag.isEmpty();
            m_menus[u"mnu_Destination"].Enabled = true;
        }
    }
    vb::PopupMenu(this, m_menus[u"mnu_Main"]);
}

void cveDerEve::picParticipant_MouseUp(int, int, int, int)
{
    // Until a participant's picture arrives there is nothing to copy or save.
    if (lblParticipant->Caption() == kParticipantCam)
        return;
    m_menus[u"mnuClear"].Visible = false;
    m_menus[u"mnub"].Visible = false;
    vb::PopupMenu(this, m_menus[u"mnuContext"]);
}

void cveDerEve::picWebCam_MouseUp(int, int, int, int)
{
    const bool running = m_Capture.CameraOn();
    for (const char16_t *name : {u"mnuClear", u"mnub"}) {
        m_menus[name].Visible = true;
        m_menus[name].Enabled = !running;
    }
    const cDibSection *PrevCap = m_Capture.PrevCap();
    if (picWebCam->hasPicture() || (PrevCap && PrevCap->HDC() != 0))
        vb::PopupMenu(this, m_menus[u"mnuContext"]);
}

// ---------------------------------------------------------------------------------------------
// The device and its pictures

const vb::MenuEntry *cveDerEve::chosenPicture() const
{
    const vb::MenuEntry *entry = DeviceIndex != -1 ? mnuDevices().at(DeviceIndex) : nullptr;
    return entry && !entry->Tag.isEmpty() ? entry : nullptr;
}

void cveDerEve::mnuLoadPic_Click()
{
    FileDialogOptions options;
    options.Title = u"Select default webcam picture (cropped 176 x 144)"_s;
    options.Filter = u"Picture files (*.bmp|*.gif|*.jpg)"_s;
    options.Pattern = u"*.bmp;*gif;*.jpg;;"_s;
    options.FolderId = kMyPictures;
    const std::optional<QString> path = ShowOpenDialog(this, options);
    // The file may have gone since the dialog saw it; an empty one would get no menu entry.
    if (!path || !PictureFileUsable(*path))
        return;

    // A picture already listed is chosen again where it is; a new one goes first.
    const int k = StoredPictures::listedSlotOf(*path);
    if (k == 0)
        StoredPictures::add(*path);
    const std::int32_t index = StoredPictures::entryIndex(k == 0 ? 1 : k, LastDriverIndex);
    StoredDevice::save(index);
    CamOff();
    imgCamOnMain->hide();
    imgCamOffMain->hide();
    DeviceIndex = index;
    InitHardwareDrivers();
}

vb::MenuEntry *cveDerEve::clearPreview()
{
    Q_EMIT m_events.EraseWebCam();
    picWebCam->setPicture(QImage());
    picWebCam->Cls();
    if (cDibSection *PrevCap = m_Capture.PrevCap())
        PrevCap->ClearUp();
    vb::MenuEntry *entry = DeviceIndex != -1 ? mnuDevices().at(DeviceIndex) : nullptr;
    return entry && entry->Checked && !entry->Tag.isEmpty() ? entry : nullptr;
}

void cveDerEve::mnuClearPic_Click()
{
    if (m_Capture.CameraOn())
        return;
    vb::MenuEntry *entry = clearPreview();
    if (!entry)
        return;
    // The others keep their slots, so this one leaves a gap.
    StoredPictures::remove(entry->Tag);
    entry->Checked = false;
    DeviceIndex = -1;
    releaseHeldBlock();
    StoredDevice::save(-1);
    m_menus[u"mnuClearPic"].Visible = false;
    InitHardwareDrivers();
}

void cveDerEve::mnuclear_Click()
{
    if (m_Capture.CameraOn())
        return;
    if (vb::MenuEntry *entry = clearPreview()) {
        // Only for now: the stored choice stays for the next start.
        entry->Checked = false;
        DeviceIndex = -1;
        releaseHeldBlock();
    }
}

// ---------------------------------------------------------------------------------------------
// Destination, capture rate, driver dialogs

void cveDerEve::chooseDestination(std::int32_t code)
{
    WindowPos = code;
    m_menus[u"mnuParticipant"].Checked = code == 8;
    m_menus[u"mnuWBBottomRight"].Checked = code == 24;
    m_menus[u"mnuWBCenter"].Checked = code == 40;
    const bool whiteBoard = code != 8;
    if (whiteBoard)
        HardwareBusyFlag = false;
    if (m_Capture.CameraOn()) {
        // The frames go to the white board from now on: the parent clears what it showed.
        if (whiteBoard)
            Q_EMIT m_events.EraseWebCam();
        // The capture size depends on the destination.
        LastAttempt = 0;
        CamOn();
    }
    m_MenuOpen = false;
}

void cveDerEve::chooseRate(std::int32_t interval)
{
    setCaptureInterval(interval);
    m_MenuOpen = false;
}

void cveDerEve::mnuPixelDepth_Click()
{
    // No grabs while the driver's dialog runs its own loop; the camera restarts on what was
    // chosen there.
    HardwareBusyFlag = true;
    tmrMain->setEnabled(false);
    tmrStart->setEnabled(false);
    // A driver that faults in its dialog fails that step only: the flag is cleared and the camera
    // restarted all the same, or it would never grab again.
    Guarded([this] { capture::capDlgVideoFormat(m_Capture.lwndc()); });
    HardwareBusyFlag = false;
    LastAttempt = 0;
    CamOn();
}

void cveDerEve::mnuSource_Click()
{
    HardwareBusyFlag = true;
    tmrMain->setEnabled(false);
    tmrStart->setEnabled(false);
    Guarded([this] { capture::capDlgVideoSource(m_Capture.lwndc()); });
    LastAttempt = 0;
    CamOff();
    HardwareBusyFlag = false;
    CamOn();
}

// ---------------------------------------------------------------------------------------------
// Copy and save

void cveDerEve::mnuCopy_Click()
{
    if (CurrentTab() == 0) {
        putOnClipboard(picParticipant->Image());
    } else if (CurrentTab() == 1) {
        if (m_Capture.CameraOn()) {
            // The capture window puts the frame it holds there.
            QGuiApplication::clipboard()->clear();
            capture::capEditCopy(m_Capture.lwndc());
        } else if (DeviceIndex != -1) {
            const cDibSection *PrevCap = m_Capture.PrevCap();
            if (chosenPicture()) {
                if (picWebCam->hasPicture())
                    putOnClipboard(picWebCam->Picture());
            } else if (PrevCap && PrevCap->HDC() != 0) {
                putOnClipboard(PrevCap->DibPicture());
            }
        }
    }
}

void cveDerEve::mnuSave_Click()
{
    const vb::MenuEntry *picture = chosenPicture();
    QString name;
    if (CurrentTab() == 0)
        name = lblParticipant->Caption() + QStringLiteral(".bmp");
    else if (CurrentTab() == 1)
        name = picture ? bitmapNameFor(picture->Tag) : QStringLiteral("webcam.bmp");

    FileDialogOptions options;
    options.Title = u"Save as.."_s;
    options.Filter = u"*.bmp"_s;
    options.FileName = name;
    options.FolderId = kMyPictures;
    const QString path = ShowSaveDialog(this, options);
    if (path.isEmpty()) {
        m_MenuOpen = false;
        return;
    }
    if (CurrentTab() == 0) {
        picParticipant->Image().save(path, "BMP");
    } else if (CurrentTab() == 1 && picture) {
        if (picWebCam->hasPicture())
            picWebCam->Picture().save(path, "BMP");
        return;
    } else if (CurrentTab() == 1 && DeviceIndex != -1) {
        const cDibSection *PrevCap = m_Capture.PrevCap();
        if (PrevCap && PrevCap->HDC() != 0)
            PrevCap->DibPicture().save(path, "BMP");
    }
    m_MenuOpen = false;
}
