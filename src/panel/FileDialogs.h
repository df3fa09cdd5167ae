#pragma once

#include <QString>

#include <cstdint>
#include <optional>

class QWidget;

// The open and save dialogs of the menu commands, and the shell folders they start in.

// What a file dialog shows and where it starts.
struct FileDialogOptions
{
    QString Title;
    // The filter as the person reads it, and the patterns it stands for ("*.bmp;*.gif"); without
    // patterns the filter's own text is the pattern.
    QString Filter;
    QString Pattern;
    QString FileName; // proposed in the name field
    QString InitialDir; // "\" is the root folder
    // A shell folder to start in instead of InitialDir (39: the user's pictures); 0 is the root.
    std::optional<std::int32_t> FolderId;
    QString DefaultExt;
};

// The chosen path of an existing file, or nothing when the dialog was cancelled.
std::optional<QString> ShowOpenDialog(QWidget *hwndOwner, const FileDialogOptions &options);
// The chosen path without spaces at its ends, or the empty text when the dialog was cancelled.
// The dialog asks before it lets a file be replaced.
QString ShowSaveDialog(QWidget *hwndOwner, const FileDialogOptions &options);
// The path of a shell folder by its number, or the empty text when the desktop names no such
// folder or it does not exist.
QString GetSpecialFolder(std::int32_t FolderId);
