// The settings menu and the context menu: their openers, their commands, and the file dialogs
// that "Load a Picture.." and "Save as.." use.

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

#include <array>
#include <utility>

#include "capture/CaptureCommands.h"
#include "panel/cveDerEve.h"
#include "support/CRegSettings.h"
#include "support/cDibSection.h"

namespace {

const QString kDefaults = QStringLiteral("Defaults");
const QString kParticipantCam = QStringLiteral("Participant cam");
constexpr std::int32_t kMyPictures = 39;

QString pictureKey(int k)
{
    return QStringLiteral("WebCamPic%1").arg(k);
}

// Qt name filters from a filter list in the common dialogs' form: pairs of a description and
// its patterns ("*.bmp;*.gif"), separated by NULs and ended by an empty description. The
// description is what the person sees; a description without patterns filters on its own text.
QStringList nameFilters(const QString &filterList)
{
    const QStringList parts = filterList.split(QChar(u'\0'));
    QStringList filters;
    for (qsizetype i = 0; i < parts.size() && !parts[i].isEmpty(); i += 2) {
        const QString &description = parts[i];
        QStringList patterns = parts.value(i + 1).split(u';', Qt::SkipEmptyParts);
        if (patterns.isEmpty())
            patterns = description.split(u';', Qt::SkipEmptyParts);
        // The dialog hides the last parenthesised part: the patterns, not the description's own.
        filters << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}

// The folder a dialog opens in: a shell folder when one is named, the root for folder 0.
QString initialFolder(const QString &InitialDir, std::optional<std::int32_t> FolderId)
{
    if (!FolderId)
        return InitialDir;
    return *FolderId != 0 ? cveDerEve::GetSpecialFolder(*FolderId) : QStringLiteral("\\");
}

// The dialogs are Qt's own widgets rather than the desktop's, so that they look and behave the
// same everywhere and can be driven like the rest of the panel.
void prepareDialog(QFileDialog &dialog, const QString &Title, const QString &folder,
                   const QStringList &filters)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(Title);
    // "\" names the root folder.
    if (folder == QLatin1String("\\"))
        dialog.setDirectory(QDir::rootPath());
    else if (!folder.isEmpty())
        dialog.setDirectory(folder);
    dialog.setNameFilters(filters);
}

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

} // namespace

void cveDerEve::connectMenus()
{
    picSettingsMain->Click = [this] { picSettingsMain_Click(); };
    picParticipant->MouseUp
        = [this](int b, int s, int x, int y) { picParticipant_MouseUp(b, s, x, y); };
    picWebCam->MouseUp = [this](int b, int s, int x, int y) { picWebCam_MouseUp(b, s, x, y); };

    const std::pair<vb::MenuEntry *, void (cveDerEve::*)()> commands[] = {
        {&mnuLoadPic, &cveDerEve::mnuLoadPic_Click},
        {&mnuClearPic, &cveDerEve::mnuClearPic_Click},
        {&mnuParticipant, &cveDerEve::mnuParticipant_Click},
        {&mnuWBBottomRight, &cveDerEve::mnuWBBottomRight_Click},
        {&mnuWBCenter, &cveDerEve::mnuWBCenter_Click},
        {&mnuRate2sec, &cveDerEve::mnuRate2sec_Click},
        {&mnuRate5sec, &cveDerEve::mnuRate5sec_Click},
        {&mnuRateFast, &cveDerEve::mnuRateFast_Click},
        {&mnuPixelDepth, &cveDerEve::mnuPixelDepth_Click},
        {&mnuSource, &cveDerEve::mnuSource_Click},
        {&mnuCopy, &cveDerEve::mnuCopy_Click},
        {&mnuSave, &cveDerEve::mnuSave_Click},
        {&mnuClear, &cveDerEve::mnuclear_Click},
    };
    for (const auto &command : commands)
        command.first->Click = [this, handler = command.second] { (this->*handler)(); };

    // Access keys, one per menu, on a letter a person would guess.
    const std::pair<vb::MenuEntry *, const char *> accessKeys[] = {
        {&mnu_Device, "D"},
        {&mnuLoadPic, "L"},
        {&mnuClearPic, "R"},
        {&mnu_Destination, "area"},
        {&mnu_CaptureRate, "C"},
        {&mnuPixelDepth, "S"},
        {&mnuSource, "G"},
        {&mnuParticipant, "participant"},
        {&mnuWBBottomRight, "bottom"},
        {&mnuWBCenter, "center"},
        {&mnuRate2sec, "2"},
        {&mnuRate5sec, "5"},
        {&mnuRateFast, "fast"},
        {&mnuCopy, "C"},
        {&mnuSave, "S"},
        {&mnuClear, "l"},
    };
    for (const auto &[entry, key] : accessKeys)
        entry->AccessKey = QString::fromLatin1(key);

    mnuPixelDepth.DisabledToolTip
        = QStringLiteral("Start the camera to change its picture size and pixel depth");
    mnuSource.DisabledToolTip
        = QStringLiteral("Start the camera to change its brightness, contrast and colours");
    mnu_CaptureRate.DisabledToolTip
        = QStringLiteral("A picture is sent once; the capture rate applies to a camera");
    mnuClear.DisabledToolTip = QStringLiteral("Pause the camera to clear the preview");
}

// ---------------------------------------------------------------------------------------------
// Openers

void cveDerEve::picSettingsMain_Click()
{
    const bool running = m_Capture.CameraOn();
    mnuSource.Enabled = running;
    mnuPixelDepth.Enabled = running;
    // While the menu is open the camera keeps grabbing but sends nothing.
    if (running)
        m_MenuOpen = true;
    if (DeviceIndex != -1) {
        if (const vb::MenuEntry *entry = mnuDevices->at(DeviceIndex)) {
            // A picture is sent once, so it has no capture rate.
            mnu_CaptureRate.Enabled = entry->Tag.isEmpty();
            mnu_Destination.Enabled = true;
        }
    }
    vb::PopupMenu(this, mnu_Main);
}

void cveDerEve::picParticipant_MouseUp(int, int, int, int)
{
    // Until a participant's picture arrives there is nothing to copy or save.
    if (lblParticipant->Caption() == kParticipantCam)
        return;
    mnuClear.Visible = false;
    mnub.Visible = false;
    vb::PopupMenu(this, mnuContext);
}

void cveDerEve::picWebCam_MouseUp(int, int, int, int)
{
    const bool running = m_Capture.CameraOn();
    mnuClear.Visible = true;
    mnub.Visible = true;
    mnuClear.Enabled = !running;
    mnub.Enabled = !running;
    const cDibSection *PrevCap = m_Capture.PrevCap();
    if (picWebCam->hasPicture() || (PrevCap && PrevCap->HDC() != 0))
        vb::PopupMenu(this, mnuContext);
}

// ---------------------------------------------------------------------------------------------
// The device and its pictures

const vb::MenuEntry *cveDerEve::chosenPicture() const
{
    const vb::MenuEntry *entry = DeviceIndex != -1 ? mnuDevices->at(DeviceIndex) : nullptr;
    return entry && !entry->Tag.isEmpty() ? entry : nullptr;
}

std::int32_t cveDerEve::pictureEntryIndex(int k) const
{
    // The device menu gives entries only to the slots whose file is there, so an emptied or
    // vanished slot below k moves the picture up by one: counting only the listed slots keeps
    // the index on the entry the menu shows.
    CRegSettings settings;
    std::int32_t index = LastDriverIndex + 1;
    for (int j = 1; j < k; ++j) {
        if (PictureFileUsable(settings.GetSetting(kDefaults, pictureKey(j), QString())))
            ++index;
    }
    return index;
}

void cveDerEve::mnuLoadPic_Click()
{
    QString Filter = QStringLiteral("Picture files (*.bmp|*.gif|*.jpg)");
    QString FileName;
    QString Pattern = QStringLiteral("*.bmp;*gif;*.jpg;;");
    std::int32_t FilterIndex = 1;
    QString InitialDir;
    std::int32_t Flags = 0;
    if (!ShowOpenDialog(this, Filter, FileName, Pattern, FilterIndex, InitialDir,
                        QStringLiteral("Select default webcam picture (cropped 176 x 144)"),
                        QString(), Flags, kMyPictures))
        return;
    // The file may have gone since the dialog saw it; an empty one would get no menu entry.
    const QString path = Filter;
    if (!PictureFileUsable(path))
        return;

    CRegSettings settings;
    std::int32_t index = -1;
    for (int k = 1; k <= 4 && index < 0; ++k) {
        const QString stored = settings.GetSetting(kDefaults, pictureKey(k), QString());
        // Only a slot the device menu lists can be chosen again.
        if (stored.compare(path, Qt::CaseInsensitive) == 0 && PictureFileUsable(stored))
            index = pictureEntryIndex(k);
    }
    if (index < 0) {
        // Newest first: the others move down one slot, the fourth falls off.
        for (int k = 3; k >= 1; --k) {
            const QString stored = settings.GetSetting(kDefaults, pictureKey(k), QString());
            if (!stored.isEmpty())
                settings.SaveSetting(kDefaults, pictureKey(k + 1), stored);
        }
        settings.SaveSetting(kDefaults, pictureKey(1), path);
        index = LastDriverIndex + 1;
    }
    settings.SaveSetting(kDefaults, QStringLiteral("WebCamDevice"), QString::number(index));
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
    vb::MenuEntry *entry = DeviceIndex != -1 ? mnuDevices->at(DeviceIndex) : nullptr;
    return entry && entry->Checked && !entry->Tag.isEmpty() ? entry : nullptr;
}

void cveDerEve::mnuClearPic_Click()
{
    if (m_Capture.CameraOn())
        return;
    vb::MenuEntry *entry = clearPreview();
    if (!entry)
        return;
    CRegSettings settings;
    for (int k = 1; k <= 4; ++k) {
        // Exactly the stored text: the others keep their slots, so this one leaves a gap.
        if (settings.GetSetting(kDefaults, pictureKey(k), QString()) == entry->Tag) {
            settings.SaveSetting(kDefaults, pictureKey(k), QString());
            break;
        }
    }
    entry->Checked = false;
    DeviceIndex = -1;
    releaseHeldBlock();
    settings.SaveSetting(kDefaults, QStringLiteral("WebCamDevice"), QStringLiteral("-1"));
    mnuClearPic.Visible = false;
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
    mnuParticipant.Checked = code == 8;
    mnuWBBottomRight.Checked = code == 24;
    mnuWBCenter.Checked = code == 40;
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

void cveDerEve::mnuParticipant_Click()
{
    chooseDestination(8);
}

void cveDerEve::mnuWBBottomRight_Click()
{
    chooseDestination(24);
}

void cveDerEve::mnuWBCenter_Click()
{
    chooseDestination(40);
}

void cveDerEve::mnuRate2sec_Click()
{
    setCaptureInterval(2000);
    m_MenuOpen = false;
}

void cveDerEve::mnuRate5sec_Click()
{
    setCaptureInterval(5000);
    m_MenuOpen = false;
}

void cveDerEve::mnuRateFast_Click()
{
    setCaptureInterval(0);
    m_MenuOpen = false;
}

void cveDerEve::mnuPixelDepth_Click()
{
    // No grabs while the driver's dialog runs its own loop; the camera restarts on what was
    // chosen there.
    HardwareBusyFlag = true;
    tmrMain->setEnabled(false);
    tmrStart->setEnabled(false);
    capture::capDlgVideoFormat(m_Capture.lwndc());
    HardwareBusyFlag = false;
    LastAttempt = 0;
    CamOn();
}

void cveDerEve::mnuSource_Click()
{
    HardwareBusyFlag = true;
    tmrMain->setEnabled(false);
    tmrStart->setEnabled(false);
    capture::capDlgVideoSource(m_Capture.lwndc());
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

    const QString path = ShowSaveDialog(this, QStringLiteral("*.bmp"), QStringLiteral("Save as.."),
                                        QStringLiteral("\\"), name, kMyPictures);
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

// ---------------------------------------------------------------------------------------------
// File dialogs and folders

bool cveDerEve::ShowOpenDialog(QWidget *hwndOwner, QString &Filter, QString &FileName,
                               QString &Pattern, std::int32_t &FilterIndex, QString &InitialDir,
                               const QString &Title, const QString &DefaultExt, std::int32_t &Flags,
                               std::optional<std::int32_t> FolderId)
{
    if (FolderId)
        InitialDir = initialFolder(InitialDir, FolderId);
    const QStringList filters
        = nameFilters(Filter + QChar(u'\0') + Pattern + QChar(u'\0') + QChar(u'\0'));

    QFileDialog dialog(hwndOwner);
    prepareDialog(dialog, Title, InitialDir, filters);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The dialog itself insists on an existing file, so a typing mistake is answered there.
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(DefaultExt);
    if (FilterIndex >= 1 && FilterIndex <= filters.size())
        dialog.selectNameFilter(filters[FilterIndex - 1]);
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        Filter.clear();
        FileName.clear();
        Pattern.clear();
        Flags = 0;
        FilterIndex = -1;
        return false;
    }
    Filter = StripNulls(dialog.selectedFiles().constFirst());
    FileName = QFileInfo(Filter).fileName();
    FilterIndex = std::int32_t(filters.indexOf(dialog.selectedNameFilter())) + 1;
    return true;
}

QString cveDerEve::ShowSaveDialog(QWidget *hwndOwner, QString Filter, const QString &Title,
                                  QString InitialDir, const QString &FileName,
                                  std::optional<std::int32_t> FolderId)
{
    if (FolderId)
        InitialDir = initialFolder(InitialDir, FolderId);
    if (!Filter.endsWith(u'|'))
        Filter += u'|';
    Filter.replace(u'|', QChar(u'\0'));

    QFileDialog dialog(hwndOwner);
    prepareDialog(dialog, Title, InitialDir, nameFilters(Filter));
    // Asks before replacing a file, as the save dialog always has.
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString path = dialog.selectedFiles().constFirst();
    while (path.startsWith(u' '))
        path.remove(0, 1);
    while (path.endsWith(u' '))
        path.chop(1);
    return path;
}

QString cveDerEve::GetSpecialFolder(std::int32_t FolderId)
{
    // The shell folders by their numbers, as far as a desktop names them.
    static constexpr std::array<std::pair<std::int32_t, QStandardPaths::StandardLocation>, 6>
        folders {{{0, QStandardPaths::DesktopLocation},
                  {5, QStandardPaths::DocumentsLocation},
                  {13, QStandardPaths::MusicLocation},
                  {14, QStandardPaths::MoviesLocation},
                  {16, QStandardPaths::DesktopLocation},
                  {39, QStandardPaths::PicturesLocation}}};
    for (const auto &[id, location] : folders) {
        if (id != FolderId)
            continue;
        // A folder that is not there is no folder to start in.
        const QString path = QStandardPaths::writableLocation(location);
        return QFileInfo(path).isDir() ? path : QString();
    }
    return {};
}
