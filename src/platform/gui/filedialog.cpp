#include "platform/gui/filedialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace vestrel {

namespace {

using namespace Qt::StringLiterals;

// Qt reads the patterns from the parentheses of the entry's text.
QString QtFilterText(const FileFilter& filter) {
    const QString inParentheses = u'(' + filter.pattern + u')';
    return filter.name.endsWith(inParentheses) ? filter.name : filter.name + u' ' + inParentheses;
}

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
            filters.append(QtFilterText(filter));
        dialog.setNameFilters(filters);
        if (request.selectedFilter >= 0 && request.selectedFilter < filters.size())
            dialog.selectNameFilter(filters[request.selectedFilter]);
        dialog.setDefaultSuffix(request.defaultExtension);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.first().isEmpty())
            return std::nullopt;
        return WithDefaultExtension(chosen.first(), request.defaultExtension);
    }
};

} // namespace

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
