#include "panel/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>
#include <utility>

#include "support/PathHelpers.h"

namespace {

// Shows the dialog until the person chooses or cancels; true when a file was chosen. The dialogs
// are Qt's own widgets rather than the desktop's, so that they look and behave the same
// everywhere and can be driven like the rest of the panel.
bool run(QFileDialog &dialog, const FileDialogOptions &options, QFileDialog::AcceptMode mode)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The dialog shows the filter's own text and hides the patterns added in parentheses.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(options.Title);
    const QString folder = !options.FolderId ? options.InitialDir
        : *options.FolderId != 0             ? GetSpecialFolder(*options.FolderId)
                                             : QStringLiteral("\\");
    if (folder == QLatin1String("\\"))
        dialog.setDirectory(QDir::rootPath());
    else if (!folder.isEmpty())
        dialog.setDirectory(folder);
    const QString patterns = options.Pattern.isEmpty() ? options.Filter : options.Pattern;
    dialog.setNameFilter(options.Filter + QStringLiteral(" (")
                         + patterns.split(u';', Qt::SkipEmptyParts).join(u' ') + u')');
    dialog.setAcceptMode(mode);
    // The open dialog itself insists on an existing file, so a typing mistake is answered there;
    // the save dialog asks before a file is replaced.
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(options.DefaultExt);
    if (!options.FileName.isEmpty())
        dialog.selectFile(options.FileName);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
}

} // namespace

std::optional<QString> ShowOpenDialog(QWidget *hwndOwner, const FileDialogOptions &options)
{
    QFileDialog dialog(hwndOwner);
    if (!run(dialog, options, QFileDialog::AcceptOpen))
        return std::nullopt;
    return StripNulls(dialog.selectedFiles().constFirst());
}

QString ShowSaveDialog(QWidget *hwndOwner, const FileDialogOptions &options)
{
    QFileDialog dialog(hwndOwner);
    if (!run(dialog, options, QFileDialog::AcceptSave))
        return {};
    QString path = dialog.selectedFiles().constFirst();
    while (path.startsWith(u' '))
        path.remove(0, 1);
    while (path.endsWith(u' '))
        path.chop(1);
    return path;
}

QString GetSpecialFolder(std::int32_t FolderId)
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
