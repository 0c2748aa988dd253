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
#include "zip/ZARepair.h"

namespace {

// The catalogue's notice that the archive is being changed by another
// program and the command waits for it.
constexpr int kLockWaitNotice = 187;

// The component's reason below a window's own error text.
QString withReason(const QString& reason) {
    return reason.isEmpty() ? QString() : QStringLiteral("\n\n") + reason;
}

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
    // Names are taken from the root ("home/u/Daten/a.txt"), never from the folder the
    // program was started in; "Pfad sichern" then cuts SourceFolder off them
    // (ZipArchiver1SetAddName), "Den gesamten Pfad sichern" keeps them whole.
    zip_->SetRootDir("/");
    std::vector<std::string> specs;
    for (const QString& line : packList) {
        specs.push_back(line.toStdString());
    }
    zip_->SetFSpecArgs(specs);
    // The picked files and folders are paths, not patterns: "x*.txt" is that file only.
    zip_->SetExactNames(true);
    inCommand_ = true;
    try {
        zip_->Add();
    } catch (...) {
        queueMessage("Fehler beim Hinzufügen");
    }
    inCommand_ = false;
    showPendingMessages();
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
    // Selected names are names, not patterns: "x*.txt" is that entry only.
    zip_->SetFSpecArgs(selectedSpecs());
    zip_->SetExactNames(true);
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
    inCommand_ = true;
    try {
        zip_->Extract();
    } catch (...) {
        queueMessage("Fehler beim Entpacken");
    }
    inCommand_ = false;
    showPendingMessages();
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
    zip_->SetFSpecArgsExcl({});
    zip_->SetExactNames(true);
    inCommand_ = true;
    try {
        zip_->Delete();
    } catch (...) {
        queueMessage("Fehler beim Löschen!");
    }
    inCommand_ = false;
    QApplication::restoreOverrideCursor();
    showPendingMessages();
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
        inCommand_ = true;
        const int failed = zip_->ConvertToZIP();
        inCommand_ = false;
        if (failed != 0) {
            if (cancelRequested_) {
                pendingMessages_.clear();
                return;  // stopped by the user, who knows
            }
            ShowMessage(TMessageKind::mkError,
                        QStringLiteral("Beim umwandeln in ein Zip-Archiv ist ein Fehler "
                                       "aufgetreten.") +
                            withReason(takePendingMessages()),
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
    inCommand_ = true;
    const int failed = zip_->ConvertToSFX();
    inCommand_ = false;
    if (failed != 0) {
        if (cancelRequested_) {
            pendingMessages_.clear();
            return;  // stopped by the user, who knows
        }
        ShowMessage(TMessageKind::mkError,
                    QStringLiteral("Beim umwandeln in eine Exe-Datei ist ein Fehler aufgetreten.") +
                        withReason(takePendingMessages()),
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
    zip_->SetExactNames(true);
    zip_->SetExtrBaseDir(TempViewFolder.toStdString());
    zip_->SetPassword(std::string());
    zip_->SetExtrOptions(TZAExtrOpts{ExtrOverWrite});
    try {
        zip_->Extract();
    } catch (...) {
        showPendingMessages();
        return;
    }
    showPendingMessages();
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
    if (ErrCode == kLockWaitNotice) {
        // Not an error: the command waits for another program's rewrite. The
        // progress panel says so while it waits (the next file replaces it).
        lblDateiname_->setText(QString::fromStdString(ErrMsg));
        if (panUnten_->isHidden()) {
            panUnten_->show();
            autoPanel_ = commandRunning_;
        }
        ProcessPendingEvents();
        return;
    }
    if (ErrCode > 0) {
        queueMessage(ErrMsg);
    }
}

void TfrmMain::queueMessage(const std::string& text) {
    const QString message = QString::fromStdString(text);
    if (!pendingMessages_.contains(message)) {
        pendingMessages_.append(message);
    }
    if (!inCommand_ && !zip_->IsBusy()) {
        showPendingMessages();
    }
}

QString TfrmMain::takePendingMessages() {
    // A command that fails for many files says the first few and how many more.
    constexpr qsizetype kShown = 10;
    QString text = pendingMessages_.mid(0, kShown).join(QLatin1Char('\n'));
    if (pendingMessages_.size() > kShown) {
        text += QStringLiteral("\n… und %1 weitere").arg(pendingMessages_.size() - kShown);
    }
    pendingMessages_.clear();
    return text;
}

void TfrmMain::showPendingMessages() {
    if (!pendingMessages_.isEmpty()) {
        ShowPlainMessage(QStringLiteral("DLL-Fehlermeldung: ") + takePendingMessages(), this);
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

// --- Rescuing a damaged archive ------------------------------------------------------

namespace {

// Messages of a failed open that mean a damaged structure (no end record,
// a broken directory), as opposed to a missing or locked file.
bool IsStructureError(int errCode) {
    switch (errCode) {
        case 119:  // central header signature
        case 127:  // no valid zip file
        case 151:
        case 152:  // reading a central header
        case 154:
        case 158:  // end records
        case 181:  // Zip64 extra field
        case 204:  // seeking within the archive
            return true;
        default:
            return false;
    }
}

// Whether the file starts with a local header (or the marker of a split
// set's first part): only then do entries lie where a rescue can find them.
bool StartsLikeAnArchive(const QString& name) {
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray head = f.read(8);
    return head.startsWith(QByteArray("PK\x03\x04", 4)) ||
           head.startsWith(QByteArray("PK\x07\x08PK\x03\x04", 8));
}

// The default name for the rescued copy, or a numbered one when that exists.
QString FreeRepairTarget(const QString& name) {
    const QString first = QString::fromStdString(TZARepair::DefaultTarget(name.toStdString()));
    QString target = first;
    for (int n = 2; QFileInfo::exists(target); ++n) {
        target = first.left(first.size() - 4) + QStringLiteral("-%1.zip").arg(n);
    }
    return target;
}

}  // namespace

bool TfrmMain::offerRepair(const QString& name) {
    if (zip_->ArchiveLoaded() || !IsStructureError(zip_->ErrCode()) || !StartsLikeAnArchive(name)) {
        return false;
    }
    pendingMessages_.clear();  // the offer says why the archive did not open
    const QString target = FreeRepairTarget(name);
    const QString question =
        QStringLiteral("Das Archiv\n\n") + name +
        QStringLiteral("\n\nist beschädigt und lässt sich nicht öffnen (") +
        QString::fromStdString(zip_->ErrMessage()) +
        QStringLiteral(
            ").\n\n"
            "Tarvik kann die Dateien daraus retten, die noch vollständig darin "
            "stehen, und sie in ein neues Archiv schreiben:\n\n") +
        target +
        QStringLiteral("\n\nDas beschädigte Archiv bleibt dabei unverändert. Jetzt reparieren?");
    if (ShowMessage(TMessageKind::mkConfirmation, question, QMessageBox::Yes | QMessageBox::No,
                    this) != QMessageBox::Yes) {
        return true;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TZARepairOutcome outcome;
    const int failed = zip_->Repair(name.toStdString(), target.toStdString(), outcome);
    QApplication::restoreOverrideCursor();
    if (failed != 0) {
        // The component has shown why.
        Bedienelemente();
        return true;
    }
    OeffneArchiv(target);
    if (outcome.lost > 0) {
        QString lost;
        constexpr int kShownAtMost = 15;
        for (int i = 0; i < static_cast<int>(outcome.messages.size()) && i < kShownAtMost; ++i) {
            lost += QString::fromStdString(outcome.messages[static_cast<std::size_t>(i)]) + '\n';
        }
        if (static_cast<int>(outcome.messages.size()) > kShownAtMost) {
            lost += QStringLiteral("…\n");
        }
        ShowMessage(TMessageKind::mkWarning,
                    QStringLiteral("%1 von %2 Dateien wurden gerettet.\n\n")
                            .arg(outcome.recovered)
                            .arg(outcome.recovered + outcome.lost) +
                        lost,
                    QMessageBox::Ok, this);
    }
    return true;
}
