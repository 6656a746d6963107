#include "platform/gui/filedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace vestrel {

namespace {

using namespace Qt::StringLiterals;

class QtFileDialog final : public IFileDialog {
public:
    std::optional<QString> GetOpenFileName(const FileDialogRequest& request,
                                           QWidget* parent) override {
        QFileDialog dialog(parent, request.title);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // A name that does not exist yet may be typed: the backup creates the file.
        dialog.setFileMode(QFileDialog::AnyFile);
        QStringList filters;
        for (const FileFilter& filter : request.filters)
            filters.append(QtNameFilter(filter));
        // The list shows each entry's own text; the patterns Qt matches stay out of sight.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(filters);
        if (request.selectedFilter >= 0 && request.selectedFilter < filters.size())
            dialog.selectNameFilter(filters[request.selectedFilter]);
        dialog.setDefaultSuffix(request.defaultExtension);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.first().isEmpty())
            return std::nullopt;
        return QDir::toNativeSeparators(
            WithDefaultExtension(chosen.first(), request.defaultExtension));
    }
};

} // namespace

QString QtNameFilter(const FileFilter& filter) {
    // "*.*" means every file to Windows; to Qt it would leave out the names without a dot.
    QStringList patterns = filter.pattern.split(u';', Qt::SkipEmptyParts);
    for (QString& pattern : patterns)
        if (pattern.trimmed() == u"*.*"_s)
            pattern = u"*"_s;
    return filter.name + u" ("_s + patterns.join(u' ') + u')';
}

Seam<IFileDialog>& FileDialogSeam() {
    static QtFileDialog fallback;
    static Seam<IFileDialog> seam(fallback);
    return seam;
}

QString WithDefaultExtension(const QString& path, const QString& extension) {
    if (extension.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path.endsWith(u'.') ? path + extension : path + u'.' + extension;
}

} // namespace vestrel
