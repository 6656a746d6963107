#pragma once

#include "platform/seam.h"

#include <QList>
#include <QString>
#include <optional>

class QWidget;

namespace vestrel {

// One entry of a file dialog's type list: the text shown and the pattern it stands for.
struct FileFilter {
    QString name;
    QString pattern;
    bool operator==(const FileFilter&) const = default;
};

// What a file-open dialog shows.
struct FileDialogRequest {
    QString title;
    QList<FileFilter> filters;
    qsizetype selectedFilter = 0; // index into filters
    QString defaultExtension;     // without the dot; appended to a name that has none
};

// The modal file-open dialog. Returns the chosen full path, or nothing on Cancel. Tests answer
// it themselves.
class IFileDialog {
public:
    virtual ~IFileDialog() = default;
    virtual std::optional<QString> GetOpenFileName(const FileDialogRequest& request,
                                                   QWidget* parent) = 0;
};

// The dialog of the widget layer unless a test has put in its own.
Seam<IFileDialog>& FileDialogSeam();

// An entry as Qt's dialog takes it: the text shown, then the patterns Qt matches in
// parentheses ("*.*" as "*", ";" between patterns as a blank).
QString QtNameFilter(const FileFilter& filter);

// The path with "." + extension appended when its file name has no extension.
QString WithDefaultExtension(const QString& path, const QString& extension);

} // namespace vestrel
