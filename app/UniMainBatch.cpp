// The main window's work for the file manager's commands (app/Batch.h):
// extracting whole archives and adding files without the dialogs.
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <cstdio>

#include "app/Batch.h"
#include "app/FileDialogs.h"
#include "app/Global.h"
#include "app/MessageBoxes.h"
#include "app/UniExtr.h"
#include "app/UniMain.h"

namespace {

const QString kExtractHere = QStringLiteral("--extract-here");
const QString kExtractTo = QStringLiteral("--extract-to");
const QString kAddTo = QStringLiteral("--add-to");

// `wanted`, or "wanted (2)", "wanted (3)" ... when that name is taken.
QString freeName(const QString& wanted) {
    QString name = wanted;
    for (int n = 2; QFileInfo::exists(name); ++n) {
        name = wanted + QStringLiteral(" (%1)").arg(n);
    }
    return name;
}

}  // namespace

QString TfrmMain::extractHereTarget(const QString& archive) const {
    const QFileInfo info(archive);
    // Entries that all lie in one folder (or a single entry) go beside the
    // archive; anything else into a new folder named after it.
    QSet<QString> tops;
    bool inFolder = false;
    for (int row = 0; row < model_->rowCount() && tops.size() < 2; ++row) {
        const QString name = model_->FileName(row);
        tops.insert(name.section('/', 0, 0, QString::SectionSkipEmpty));
        inFolder = inFolder || name.contains('/');
    }
    if (tops.size() == 1 && (inFolder || model_->rowCount() == 1)) {
        return info.absolutePath();
    }
    return freeName(info.absolutePath() + '/' + info.completeBaseName());
}

QString TfrmMain::ChooseExtractTarget(const QString& archive) {
    ExtractFolder = IncludeTrailingSlash(QFileInfo(archive).absolutePath());
    frmExtr_->RefreshTree();
    runModal(*frmExtr_);
    if (DialogCancelled || ExtractTarget.isEmpty()) {
        return {};
    }
    return ExtractTarget;
}

QString TfrmMain::ChooseArchiveFor(const QStringList& files) {
    const QFileInfo first(files.value(0));
    TFileDialogRequest request;
    request.Kind = TFileDialogKind::fdOpenArchive;
    request.Title = QStringLiteral("Zip-Archiv öffnen oder erstellen");
    request.Filter = QStringLiteral("Zipdateien (*.ZIP)|*.zip|Zipdateien (*.EXE)|*.exe");
    request.Folder = IncludeTrailingSlash(first.absolutePath());
    request.FileName = first.completeBaseName() + QStringLiteral(".zip");
    const QStringList chosen = RunFileDialog(request, this);
    return chosen.isEmpty() ? QString() : QFileInfo(chosen.front()).absoluteFilePath();
}

bool TfrmMain::ExtractArchiveTo(const QString& archive, const QString& target, bool here) {
    bool done = false;
    runExclusive([&] {
        if (!QFileInfo(archive).isFile()) {
            ShowMessage(TMessageKind::mkError, QStringLiteral("Datei nicht gefunden: ") + archive,
                        QMessageBox::Ok, this);
            return;
        }
        OeffneArchiv(archive);  // says so itself when it is no archive
        if (model_->rowCount() == 0) {
            return;
        }
        const QString folder = here ? extractHereTarget(archive) : target;
        if (!QDir().mkpath(folder)) {
            ShowMessage(TMessageKind::mkError,
                        QStringLiteral("Der Ordner: ") + folder +
                            QStringLiteral("\n\nkann nicht angelegt werden."),
                        QMessageBox::Ok, this);
            return;
        }
        zip_->SetFSpecArgs({});
        showProgressPanel(QStringLiteral("Entpacke Datei:"));
        zip_->SetExtrBaseDir(
            IncludeTrailingSlash(QFileInfo(folder).absoluteFilePath()).toStdString());
        zip_->SetPassword(std::string());
        // Existing files are not overwritten unasked; the extract dialog, when
        // it chose the target, chose these too.
        TZAExtrOpts options;
        if (!chosenTarget_ || ExtractWithPaths) {
            options.include(ExtrDirNames);
        }
        if (chosenTarget_ && ExtractOverwrite) {
            options.include(ExtrOverWrite);
        }
        zip_->SetExtrOptions(options);
        try {
            zip_->Extract();
        } catch (...) {
            ShowPlainMessage(QStringLiteral("Fehler beim entpacken"), this);
        }
        hideProgressPanel();
        done = zip_->ErrCode() == 0 && !cancelRequested_;
    });
    return done;
}

bool TfrmMain::AddFilesTo(const QString& archive, const QStringList& files) {
    bool done = false;
    runExclusive([&] {
        OeffneArchiv(archive);  // a missing archive is made by the add
        if (ArchiveName().isEmpty()) {
            return;
        }
        // Each file is stored with its name (a folder with what it holds)
        // below the folder it lies in: one add per folder.
        QMap<QString, std::vector<std::string>> byFolder;
        for (const QString& f : files) {
            const QFileInfo info(f);
            if (!info.exists()) {
                ShowMessage(TMessageKind::mkError, QStringLiteral("Datei nicht gefunden: ") + f,
                            QMessageBox::Ok, this);
                return;
            }
            byFolder[info.absolutePath()].push_back(info.fileName().toStdString());
        }
        done = true;
        for (auto it = byFolder.cbegin(); it != byFolder.cend() && done; ++it) {
            showProgressPanel(QStringLiteral("Packe Datei:"));
            SourceFolder = IncludeTrailingSlash(it.key());
            zip_->SetRootDir(SourceFolder.toStdString());
            zip_->SetAddOptions(TZAAddOpts{AddHiddenFiles, AddRecurseDirs, AddDirNames});
            zip_->SetFSpecArgs(it.value());
            zip_->SetExactNames(true);  // names of files, not patterns
            try {
                zip_->Add();
            } catch (...) {
                ShowPlainMessage(QStringLiteral("Fehler beim Hinzufügen"), this);
            }
            zip_->SetRootDir(std::string());
            hideProgressPanel();
            done = zip_->ErrCode() == 0 && !cancelRequested_;
        }
        Bedienelemente();
    });
    return done;
}

bool IsBatchCommand(const QStringList& arguments) {
    return !arguments.isEmpty() && (arguments.front() == kExtractHere ||
                                    arguments.front() == kExtractTo || arguments.front() == kAddTo);
}

int RunBatchCommand(const QStringList& arguments) {
    const QString command = arguments.value(0);
    const QStringList names = arguments.mid(1);
    const int needed = command == kExtractHere ? 1 : 2;
    if (names.size() < needed) {
        std::fprintf(stderr,
                     "Aufruf: tarvik --extract-here ARCHIV...\n"
                     "        tarvik --extract-to ZIEL ARCHIV...\n"
                     "        tarvik --add-to ARCHIV DATEI...\n");
        return 2;
    }
    TfrmMain window;
    window.show();
    window.FormActivate();
    bool ok = true;
    if (command == kAddTo) {
        // An empty archive name: the open/new chooser, proposing FILE.zip.
        const QString archive = names[0].isEmpty() ? window.ChooseArchiveFor(names.mid(1))
                                                   : QFileInfo(names[0]).absoluteFilePath();
        ok = !archive.isEmpty() && window.AddFilesTo(archive, names.mid(1));
    } else {
        const bool here = command == kExtractHere;
        const QStringList archives = here ? names : names.mid(1);
        // An empty target ("Entpacken nach …"): the extract dialog chooses it.
        QString target = here ? QString() : names[0];
        if (!here && target.isEmpty()) {
            target = window.ChooseExtractTarget(QFileInfo(archives.front()).absoluteFilePath());
            if (target.isEmpty()) {
                window.close();
                return 1;
            }
            window.SetChosenTarget(true);
        }
        for (const QString& a : archives) {
            if (!window.ExtractArchiveTo(QFileInfo(a).absoluteFilePath(), target, here)) {
                ok = false;
            }
            if (window.CancelledByUser()) {
                break;
            }
        }
    }
    window.close();
    return ok ? 0 : 1;
}
