#include "app/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <utility>

namespace {

TFileDialogHook& Hook() {
    static TFileDialogHook hook;
    return hook;
}

// "Zipdateien (*.ZIP)|*.zip|..." to the name filters of a Qt file dialog.
QStringList nameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i];
        const qsizetype open = label.indexOf('(');
        if (open >= 0) {
            label = label.left(open).trimmed();
        }
        result << label + QStringLiteral(" (") + parts[i + 1].split(';').join(' ') +
                      QStringLiteral(")");
    }
    return result;
}

}  // namespace

TFileDialogHook SetFileDialogHook(TFileDialogHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

QStringList RunFileDialog(const TFileDialogRequest& request, QWidget* parent) {
    if (Hook()) {
        return Hook()(request);
    }
    QFileDialog dialog(parent, request.Title, request.Folder);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Ö&ffnen"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Abbrechen"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Datei&name:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Datei&typ:"));
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Suchen in:"));
    switch (request.Kind) {
        case TFileDialogKind::fdOpenArchive:
        case TFileDialogKind::fdChooseViewer:
            // Any name may be typed: a new archive comes into being later.
            dialog.setFileMode(QFileDialog::AnyFile);
            break;
        case TFileDialogKind::fdAddFiles:
            dialog.setFileMode(QFileDialog::ExistingFiles);
            break;
        case TFileDialogKind::fdFolder:
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly);
            break;
    }
    if (!request.Filter.isEmpty()) {
        dialog.setNameFilters(nameFilters(request.Filter));
    }
    if (!request.FileName.isEmpty()) {
        dialog.selectFile(request.FileName);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}
