// The main window's commands, viewing an entry through a temporary copy, and
// the component's progress, message and stored-name events.
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QUrl>
#include <limits>
#include <utility>

#include "app/Executables.h"
#include "app/FileDialogs.h"
#include "app/Global.h"
#include "app/HelpWindow.h"
#include "app/Info.h"
#include "app/MessageBoxes.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"
#include "app/UniMain.h"
#include "platform/FileAttributes.h"

namespace {

TfrmMain::TLaunchHook& launchHook() {
    static TfrmMain::TLaunchHook hook;
    return hook;
}

// The bytes of one progress-bar block.
constexpr std::int64_t kBlockSize = 32768;

QString bareName(const QString& caption) {
    const qsizetype slash = std::max(caption.lastIndexOf('/'), caption.lastIndexOf('\\'));
    return caption.mid(slash + 1);
}

QString upperExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot >= 0 ? name.mid(dot).toUpper() : QString();
}

TfrmMain::TModalHook& modalHook() {
    static TfrmMain::TModalHook hook;
    return hook;
}

}  // namespace

TfrmMain::TModalHook TfrmMain::SetModalHook(TModalHook hook) {
    return std::exchange(modalHook(), std::move(hook));
}

void TfrmMain::runModal(QDialog& dialog) {
    if (modalHook()) {
        dialog.show();
        modalHook()(dialog);
        dialog.hide();
        return;
    }
    dialog.exec();
}

TfrmMain::TLaunchHook TfrmMain::SetLaunchHook(TLaunchHook hook) {
    return std::exchange(launchHook(), std::move(hook));
}

bool TfrmMain::archiveIsReadOnly() const {
    const platform::FileAttributes a = platform::ReadFileAttributes(ArchiveName().toStdString());
    return a.exists && a.isReadOnly;
}

std::vector<std::string> TfrmMain::selectedSpecs() const {
    std::vector<std::string> specs;
    for (int row : selectedRows()) {
        specs.emplace_back(model_->FileNameUtf8(row));
    }
    return specs;
}

// --- Öffnen / Neu ---------------------------------------------------------------

void TfrmMain::tbtOeffnenClick() {
    TFileDialogRequest request;
    request.Kind = TFileDialogKind::fdOpenArchive;
    request.Title = QStringLiteral("Zip-Archiv öffnen oder erstellen");
    request.Filter = QStringLiteral("Zipdateien (*.ZIP)|*.zip|Zipdateien (*.EXE)|*.exe");
    request.Folder = OpenFolder;
    const QStringList chosen = RunFileDialog(request, this);
    if (chosen.isEmpty()) {
        return;
    }
    QCoreApplication::processEvents();
    if (SourceFolder.isEmpty()) {
        SourceFolder = QFileInfo(chosen.front()).absolutePath() + QStringLiteral("/");
    }
    OeffneArchiv(chosen.front());
}

// --- Hinzufügen -------------------------------------------------------------------

void TfrmMain::tbtHinzuClick() {
    const QString archive = ArchiveName();
    if (archive.isEmpty()) {
        return;
    }
    if (archiveIsReadOnly()) {
        ShowMessage(TMessageKind::mkWarning,
                    QStringLiteral("Die Datei\n\n") + archive +
                        QStringLiteral("\n\nist schreibgeschützt. Es können keine Dateien "
                                       "hinzugefügt werden.      "),
                    QMessageBox::Ok, this);
        return;
    }
    DialogCancelled = true;
    runModal(*frmAdd_);
    if (DialogCancelled) {
        return;
    }
    const QStringList packList = frmAdd_->PackList();
    if (packList.isEmpty()) {
        ShowMessage(TMessageKind::mkInformation,
                    QStringLiteral("Der oder die ausgewählten Ordner enthalten keine Dateien.\n\n"
                                   "Es können keine Daten hinzugefügt werden."),
                    QMessageBox::Ok, this);
        return;
    }
    showProgressPanel(QStringLiteral("Packe Datei:"));
    TZAAddOpts options{AddHiddenFiles};
    if (!AddPassword.isEmpty()) {
        options.include(AddEncrypt);
        zip_->SetPassword(AddPassword.toStdString());
    }
    if (frmAdd_->chbUnterordnerEinschliessen->isChecked()) {
        options.include(AddRecurseDirs);
    }
    if (frmAdd_->chbPfadSichern->isChecked()) {
        options.include(AddDirNames);
    }
    zip_->SetAddOptions(options);
    std::vector<std::string> specs;
    for (const QString& line : packList) {
        specs.push_back(line.toStdString());
    }
    zip_->SetFSpecArgs(specs);
    try {
        zip_->Add();
    } catch (...) {
        ShowPlainMessage(QStringLiteral("Fehler beim Hinzufügen"), this);
    }
    frmAdd_->lbPackListe->clear();
    zip_->SetPassword(std::string());
    AddPassword.clear();
    hideProgressPanel();
    Bedienelemente();
}

// --- Entpacken --------------------------------------------------------------------

void TfrmMain::tbtEntpackenClick() {
    if (model_->rowCount() == 0) {
        return;
    }
    const QString archive = ArchiveName();
    if (!QFileInfo::exists(archive)) {
        ShowMessage(TMessageKind::mkError, QStringLiteral("Datei nicht gefunden: ") + archive,
                    QMessageBox::Ok, this);
        return;
    }
    frmExtr_->RefreshTree();
    runModal(*frmExtr_);
    if (DialogCancelled || ExtractTarget.isEmpty()) {
        return;
    }
    // The selected entries, or none for all of them. The list is set afresh:
    // a failed extract leaves its names in it, and a delete the deleted names,
    // which would otherwise be extracted again or instead of everything.
    zip_->SetFSpecArgs(selectedSpecs());
    showProgressPanel(QStringLiteral("Entpacke Datei:"));
    zip_->SetExtrBaseDir(ExtractTarget.toStdString());
    zip_->SetPassword(std::string());
    TZAExtrOpts options;
    if (ExtractWithPaths) {
        options.include(ExtrDirNames);
    }
    if (ExtractOverwrite) {
        options.include(ExtrOverWrite);
    }
    zip_->SetExtrOptions(options);
    try {
        zip_->Extract();
    } catch (...) {
        ShowPlainMessage(QStringLiteral("Fehler beim entpacken"), this);
    }
    hideProgressPanel();
}

// --- Löschen ------------------------------------------------------------------------

void TfrmMain::tbtLoeschClick() {
    if (model_->rowCount() == 0) {
        return;
    }
    const QString archive = ArchiveName();
    if (archiveIsReadOnly()) {
        ShowMessage(TMessageKind::mkWarning,
                    QStringLiteral("Die Datei\n\n") + archive +
                        QStringLiteral("\n\nist schreibgeschützt und kann deshalb nicht "
                                       "bearbeitetwerden werden.     "),
                    QMessageBox::Ok, this);
        return;
    }
    const std::vector<std::string> selected = selectedSpecs();
    if (selected.empty()) {
        ShowMessage(
            TMessageKind::mkWarning,
            QStringLiteral("Bitte markieren Sie zuerst alle Dateien die Sie löschen möchten."),
            QMessageBox::Ok, this);
        return;
    }
    const QString blanks16(16, ' ');
    if (static_cast<int>(selected.size()) == zip_->Count()) {
        const auto answer = ShowMessage(TMessageKind::mkConfirmation,
                                        QStringLiteral("Soll die Datei:\n\n") + archive + blanks16 +
                                            QStringLiteral("\n\nwirklich gelöscht werden?") +
                                            blanks16 + QStringLiteral("\n\n"),
                                        QMessageBox::Yes | QMessageBox::No, this);
        if (answer != QMessageBox::Yes) {
            return;
        }
        // The archive itself goes, permanently. When it cannot go (a folder
        // without write permission), the window keeps it and says so.
        if (!QFile::remove(archive)) {
            ShowMessage(TMessageKind::mkError,
                        QStringLiteral("Die Datei\n\n") + archive +
                            QStringLiteral("\n\nkonnte nicht gelöscht werden."),
                        QMessageBox::Ok, this);
            return;
        }
        zip_->SetZipFileName(std::string());
        Bedienelemente();
        return;
    }
    const auto answer =
        ShowMessage(TMessageKind::mkConfirmation,
                    QStringLiteral("Sollen die ausgewählten Dateien aus        \n\n") + archive +
                        QString(8, ' ') + QStringLiteral("\n\nherausgelöscht werden?\n\n"),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (answer != QMessageBox::Yes) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    zip_->SetFSpecArgs(selected);
    try {
        zip_->Delete();
    } catch (...) {
        ShowPlainMessage(QStringLiteral("Fehler beim löschen!"), this);
    }
    QApplication::restoreOverrideCursor();
}

// --- Umwandeln -------------------------------------------------------------------------

void TfrmMain::tbtUmwandelnClick() {
    if (model_->rowCount() == 0) {
        return;
    }
    const QString oldName = ArchiveName();
    if (archiveIsReadOnly()) {
        ShowMessage(TMessageKind::mkWarning,
                    QStringLiteral("Die Datei\n\n") + oldName +
                        QStringLiteral("\n\nist schreibgeschützt und kann deshalb nicht "
                                       "umgewandelt werden.      "),
                    QMessageBox::Ok, this);
        return;
    }
    if (zip_->Count() == 0) {
        ShowMessage(TMessageKind::mkInformation,
                    QStringLiteral("In diesem Archiv befinden sich keine Dateien."),
                    QMessageBox::Ok, this);
        return;
    }
    if (upperExtension(oldName) == QStringLiteral(".EXE")) {
        if (zip_->ConvertToZIP() != 0) {
            if (cancelRequested_) {
                return;  // stopped by the user, who knows
            }
            ShowMessage(TMessageKind::mkError,
                        QStringLiteral("Beim umwandeln in ein Zip-Archiv ist ein Fehler "
                                       "aufgetreten."),
                        QMessageBox::Ok, this);
            return;
        }
        Bedienelemente();
        ShowMessage(TMessageKind::mkInformation,
                    QStringLiteral("Die selbstentpackende EXE-Datei                     \n\n") +
                        oldName + QStringLiteral("\n\nwurde in das Zip-Archiv\n\n") +
                        ArchiveName() + QStringLiteral("\n\numgewandelt."),
                    QMessageBox::Ok, this);
        return;
    }
    if (zip_->ConvertToSFX() != 0) {
        if (cancelRequested_) {
            return;
        }
        ShowMessage(TMessageKind::mkError,
                    QStringLiteral("Beim umwandeln in eine Exe-Datei ist ein Fehler aufgetreten."),
                    QMessageBox::Ok, this);
        return;
    }
    Bedienelemente();
    ShowMessage(TMessageKind::mkInformation,
                QStringLiteral("Das Zip-Archiv\n\n") + oldName +
                    QStringLiteral("\n\nwurde in die selbstentpackende EXE-Datei                  "
                                   "\n\n") +
                    ArchiveName() + QStringLiteral("\n\numgewandelt."),
                QMessageBox::Ok, this);
}

// --- Info, Hilfe, Beenden ------------------------------------------------------------------

void TfrmMain::tbtInfoClick() {
    runModal(*frmInfo_);
}

void TfrmMain::tbtHilfeClick() {
    ShowHelp(10);
}

void TfrmMain::tbtBeendenClick() {
    close();
}

// --- Viewing an entry ------------------------------------------------------------------------

void TfrmMain::Tempanzeige(int mode) {
    if (!TempViewFolder.isEmpty() && !QFileInfo(TempViewFolder).isDir()) {
        RemoveTempViewFolder();  // removed from outside: make a new one
    }
    if (TempViewFolder.isEmpty()) {
        TempViewFolder = CreateTempViewFolder();
    }
    if (TempViewFolder.isEmpty()) {
        return;
    }
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        return;
    }
    const QString bare = bareName(model_->FileName(rows.front()));
    // Only this entry: names left in the list by an earlier operation would
    // be extracted along with it.
    zip_->SetFSpecArgs({std::string(model_->FileNameUtf8(rows.front()))});
    zip_->SetExtrBaseDir(TempViewFolder.toStdString());
    zip_->SetPassword(std::string());
    zip_->SetExtrOptions(TZAExtrOpts{ExtrOverWrite});
    try {
        zip_->Extract();
    } catch (...) {
        return;
    }
    QCoreApplication::processEvents();
    const QString path = TempViewFolder + bare;
    auto launch = [](const QString& program, const QString& file) {
        if (launchHook()) {
            launchHook()(program, file);
        } else if (program.isEmpty()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(file));
        } else {
            QProcess::startDetached(program, {file});
        }
    };
    if (mode == 0) {
        launch(ViewerProgram, path);
        return;
    }
    const QString ext = upperExtension(bare);
    // Programs of this desktop (scripts, desktop entries, AppImages, files with
    // an executable bit) ask the same question as Windows programs.
    if (ext == QStringLiteral(".EXE") || ext == QStringLiteral(".COM") ||
        ext == QStringLiteral(".BAT") || OpensAsProgram(path)) {
        const auto answer = ShowMessage(
            TMessageKind::mkConfirmation,
            QStringLiteral("Die Datei: ") + bare +
                QStringLiteral("\n\nist ein ausführbares Programm.\n\nSoll es wirklich gestartet "
                               "werden?          \n\n"),
            QMessageBox::Yes | QMessageBox::No, this);
        if (answer != QMessageBox::Yes) {
            return;
        }
    }
    launch(QString(), path);
}

void TfrmMain::popAnzeigePgmWahlClick() {
    TFileDialogRequest request;
    request.Kind = TFileDialogKind::fdChooseViewer;
    request.Title = QStringLiteral("Anzeigeprogramm auswählen");
    request.Filter = QStringLiteral("Programme (*.EXE)|*");
    const QFileInfo viewer(ViewerProgram);
    request.FileName = viewer.fileName();
    request.Folder = viewer.absolutePath();
    const QStringList chosen = RunFileDialog(request, this);
    if (chosen.isEmpty()) {
        return;
    }
    QCoreApplication::processEvents();
    ViewerProgram = chosen.front();
}

// --- Progress panel and component events ----------------------------------------------------

void TfrmMain::showProgressPanel(const QString& text) {
    lblMeldung_->setText(text);
    QCoreApplication::processEvents();
    panUnten_->show();
}

void TfrmMain::hideProgressPanel() {
    panUnten_->hide();
}

void TfrmMain::progressReset() {
    progressBar_->setRange(1, 10);
    progressStep_ = 1;
    progressBar_->setValue(progressBar_->minimum());
}

void TfrmMain::progressStep() {
    progressBar_->setValue(
        std::min(progressBar_->value() + progressStep_, progressBar_->maximum()));
}

void TfrmMain::ZipArchiver1Progress(TZAProgressDetails& details) {
    switch (details.ProgressKind()) {
        case pkNewItem: {
            lblDateiname_->setText(QString::fromStdString(details.ItemName()));
            progressReset();
            const std::int64_t blocks = details.ItemSize() / kBlockSize;
            progressBar_->setMaximum(blocks <= 1 ? 1
                                                 : static_cast<int>(std::min<std::int64_t>(
                                                       blocks, std::numeric_limits<int>::max())));
            if (details.ItemSize() < kBlockSize) {
                progressStep();  // a small file shows as done at once
            }
            break;
        }
        case pkItemProgress:
            if (progressBar_->value() < progressBar_->maximum()) {
                progressStep();
            }
            break;
        case pkEndOfBatch:
            lblDateiname_->clear();
            progressReset();
            break;
        default:
            break;
    }
    ProcessPendingEvents();
}

void TfrmMain::ZipArchiver1Message(int ErrCode, const std::string& ErrMsg) {
    if (ErrCode > 0) {
        ShowPlainMessage(QStringLiteral("DLL-Fehlermeldung: ") + QString::fromStdString(ErrMsg),
                         this);
    }
}

void TfrmMain::ZipArchiver1SetAddName(std::string& FileName, const std::string& /*ExtName*/,
                                      bool& IsChanged) {
    if (frmAdd_->chbGesamtenPfadSichern->isChecked()) {
        return;
    }
    // The path of SourceFolder below the root ("home/u/Daten/"); the stored
    // name keeps the part below it, starting with the separator in front.
    std::string rest = SourceFolder.toStdString();
    while (!rest.empty() && rest.front() == '/') {
        rest.erase(0, 1);
    }
    if (rest.empty()) {
        return;  // the root: names stay as they are
    }
    if (rest.back() != '/') {
        rest += '/';
    }
    std::string name = FileName;
    while (!name.empty() && name.front() == '/') {
        name.erase(0, 1);
    }
    // Only a name that lies below SourceFolder is shortened; any other name
    // is left alone rather than cut at an arbitrary place.
    if (name.size() < rest.size() || name.compare(0, rest.size(), rest) != 0) {
        return;
    }
    FileName = name.substr(rest.size() - 1);
    IsChanged = true;
}
