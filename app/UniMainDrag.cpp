// Dragging entries out of the list to a file manager or the desktop: the
// selected entries are extracted with their paths into a folder of this
// instance's private temporary folder and handed over as file URLs: an entry
// without a folder as its file, entries in folders as their top folder (which
// holds only the dragged entries), so the target gets the paths the list shows.
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

#include "app/Global.h"
#include "app/UniMain.h"
#include "platform/TempFiles.h"

void TfrmMain::buildDrag() {
    listView_->setDragEnabled(true);
    listView_->setDragDropMode(QAbstractItemView::DragOnly);
    listView_->setDefaultDropAction(Qt::CopyAction);
    model_->SetDragHandler([this](const std::vector<int>& rows) { return DragEntries(rows); });
}

QMimeData* TfrmMain::DragEntries(const std::vector<int>& rows) {
    QMimeData* data = nullptr;
    if (!rows.empty()) {
        runExclusive([this, &rows, &data] { data = extractForDrag(rows); });
    }
    return data;
}

QMimeData* TfrmMain::extractForDrag(const std::vector<int>& rows) {
    if (!TempViewFolder.isEmpty() && !QFileInfo(TempViewFolder).isDir()) {
        RemoveTempViewFolder();
    }
    if (TempViewFolder.isEmpty()) {
        TempViewFolder = CreateTempViewFolder();
    }
    if (TempViewFolder.isEmpty()) {
        return nullptr;
    }
    // A folder of its own for every drag: a target may still be reading the last one.
    const QString folder =
        QString::fromStdString(platform::CreateTempFolder(TempViewFolder.toStdString(), "Ziehen-"));
    if (folder.isEmpty()) {
        return nullptr;
    }
    std::vector<std::string> specs;
    QStringList targets;
    for (int row : rows) {
        const std::string name(model_->FileNameUtf8(row));
        specs.push_back(name);
        const QString shown = model_->FileName(row);
        if (shown.endsWith('/')) {
            // A folder entry comes with what it holds: the entries below it, by name.
            for (int r = 0; r < model_->rowCount(); ++r) {
                const std::string_view below = model_->FileNameUtf8(r);
                if (below.size() > name.size() && below.starts_with(name)) {
                    specs.emplace_back(below);
                }
            }
        }
        const QString top = shown.section('/', 0, 0, QString::SectionSkipEmpty);
        if (!top.isEmpty() && !targets.contains(folder + top)) {
            targets << folder + top;
        }
    }
    zip_->SetFSpecArgs(specs);
    zip_->SetExactNames(true);  // dragged entries are names, not patterns
    zip_->SetExtrBaseDir(folder.toStdString());
    zip_->SetPassword(std::string());
    zip_->SetExtrOptions(TZAExtrOpts{ExtrDirNames, ExtrOverWrite});
    try {
        zip_->Extract();
    } catch (...) {
        return nullptr;
    }
    // Only what arrived inside the drag folder is handed over.
    const QString root = QFileInfo(folder).canonicalFilePath() + '/';
    QList<QUrl> urls;
    for (const QString& target : targets) {
        const QFileInfo info(target);
        if (info.exists() && info.canonicalFilePath().startsWith(root)) {
            urls << QUrl::fromLocalFile(info.canonicalFilePath());
        }
    }
    if (urls.isEmpty()) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}
