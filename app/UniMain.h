// The main window: one archive at a time, its entry list, the status bar,
// the vertical toolbar with the eight commands and the progress panel shown
// while files are added or extracted.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QStringList>
#include <QToolButton>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "app/ArchiveListModel.h"
#include "zip/ZipArchiver.h"

class QAction;
class QDialog;
class TfrmAdd;
class TfrmExtr;
class TfrmInfo;
class QFrame;
class QMenu;
class QMimeData;
class QPushButton;
class QSettings;
class QToolBar;

// A file the program needs beside itself (the self-extractor stub, the
// engine library): next to the program, in the installation's
// lib/tarvik/, or in the build tree's bin/; the first place when none has it.
QString LocateProgramFile(const QString& name);

class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    // FormCreate: builds the window, reads the settings, places the window.
    // `arguments` are the command-line parameters (without the program).
    explicit TfrmMain(QStringList arguments = {}, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TZipArchiver& ZipArchiver1() { return *zip_; }

    // --- Start-up and settings -------------------------------------------------
    // Runs on every activation; the first one also handles the command line.
    void FormActivate();
    void LoadSettings();
    void SaveSettings();

    // --- The archive and its list ------------------------------------------
    void OeffneArchiv(const QString& name);
    void FillGrid();
    void Bedienelemente();
    void ListView1ColumnClick(int column);
    void ListView1SelectItem();
    void HandleDroppedFiles(const QStringList& paths);

    // --- Commands -------------------------------------------------------------
    void tbtOeffnenClick();
    void tbtEntpackenClick();
    void tbtHinzuClick();
    void tbtLoeschClick();
    void tbtUmwandelnClick();
    void tbtInfoClick();
    void tbtHilfeClick();
    void tbtBeendenClick();
    void tbtEndeClick() { tbtBeendenClick(); }
    // Every command from a button, key or menu starts here: while one runs,
    // others are refused (quitting and the help excepted).
    void RunCommand(void (TfrmMain::*command)());
    bool CommandRunning() const { return commandRunning_; }
    // Escape: cancels the work that runs, otherwise quits.
    void EscapePressed();
    // Asks the component to stop the running operation.
    void CancelWork();
    // The file manager's commands (app/Batch.h): a whole archive into
    // `target` (or, `here`, beside it or into a new folder named after it),
    // and files and folders into an archive, with the progress panel and the
    // messages of the window. True when all was done.
    bool ExtractArchiveTo(const QString& archive, const QString& target, bool here);
    bool AddFilesTo(const QString& archive, const QStringList& files);
    // The target of "Entpacken nach …" from the extract dialog, and the archive
    // for files from the open/new chooser; "" when cancelled.
    QString ChooseExtractTarget(const QString& archive);
    QString ChooseArchiveFor(const QStringList& files);
    // The extract dialog chose the target: its two options apply.
    void SetChosenTarget(bool chosen) { chosenTarget_ = chosen; }
    // The last command was cancelled by the user (until the next one starts).
    bool CancelledByUser() const { return lastCancelled_; }
    // Dragging entries out: extracts the rows' entries and hands them over as
    // file URLs; null when nothing could be extracted or work runs.
    QMimeData* DragEntries(const std::vector<int>& rows);
    // The keys of a command as its tooltip shows them ("Strg+O").
    static QString CommandKeyText(const QString& objectName);

    // --- Viewing an entry -----------------------------------------------------
    void popAnzeigenClick() { Tempanzeige(0); }
    void popAnzeigenVerkClick() { Tempanzeige(1); }
    void popAnzeigePgmWahlClick();
    void Tempanzeige(int mode);
    // Starts the viewer (program not empty) or opens the file with its
    // associated program (program empty); tests replace it.
    using TLaunchHook = std::function<void(const QString& program, const QString& path)>;
    static TLaunchHook SetLaunchHook(TLaunchHook hook);
    // Shows the add, extract and info windows modally; tests replace it with
    // a function that drives the (shown, non-modal) window and returns.
    using TModalHook = std::function<void(QDialog& dialog)>;
    static TModalHook SetModalHook(TModalHook hook);
    TfrmAdd& frmAdd() { return *frmAdd_; }
    TfrmExtr& frmExtr() { return *frmExtr_; }
    TfrmInfo& frmInfo() { return *frmInfo_; }

    // --- Component events ---------------------------------------------------------
    void ZipArchiver1DirUpdate();
    void ZipArchiver1Progress(TZAProgressDetails& details);
    void ZipArchiver1Message(int ErrCode, const std::string& ErrMsg);
    void ZipArchiver1SetAddName(std::string& FileName, const std::string& ExtName, bool& IsChanged);

    // --- What the commands and tests look at ---------------------------------------
    QString ArchiveName() const;  // the component's ZipFileName
    TArchiveListModel& Model() { return *model_; }
    QTreeView* ListView1() const { return listView_; }
    QAction* Command(const QString& objectName) const;
    QStringList SelectedCaptions() const;  // in list order
    QLabel* StatusPanel(int i) const { return statusPanels_[i]; }
    QLabel* lblInhalt() const { return lblInhalt_; }
    QLabel* lblArchivName() const { return lblArchivName_; }
    QWidget* panUnten() const { return panUnten_; }
    QLabel* lblMeldung() const { return lblMeldung_; }
    QLabel* lblDateiname() const { return lblDateiname_; }
    QProgressBar* ProgressBar1() const { return progressBar_; }
    QPushButton* btnAbbrechen() const { return btnAbbrechen_; }
    QMenu* PopupMenu() const { return popup_; }
    std::uint64_t TotalPacked() const { return totalPacked_; }
    std::uint64_t TotalUnpacked() const { return totalUnpacked_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildLayout();
    void buildToolbar();
    void buildList();
    void buildProgressPanel();
    void buildStatusBar();
    void buildKeyboard();
    void buildDrag();
    QString extractHereTarget(const QString& archive) const;
    QMimeData* extractForDrag(const std::vector<int>& rows);
    void commandFinished();
    // The component starts or ends an operation: the cancel button and the
    // commands follow it while a command runs.
    void workStateChanged(bool busy);
    // Closing while work runs asks first; true when the window may close now.
    bool confirmCloseWhileWorking();
    // Files dropped on the window, handled like a command.
    void RunDrop(const QStringList& paths);
    void runExclusive(const std::function<void()>& body);
    // What the list shows besides its rows, kept across a refill.
    struct TListState {
        QString archive;
        std::unordered_map<std::string, int> selected;  // names, with their counts
        std::string current;
        bool hasCurrent = false;
        std::string top;  // the entry in the first visible row
        bool hasTop = false;
        int horizontal = 0;
    };
    TListState saveListState() const;
    void restoreListState(TListState state);
    // The component's report that it stopped because the user cancelled: the
    // user knows, so it is not shown.
    bool isRequestedAbort(int errCode, const std::string& text) const;
    void attachComponent();
    // The component's errors of one command, each once, shown together in one
    // box when the command ends (or at once outside a command).
    void queueMessage(const std::string& text);
    QString takePendingMessages();
    void showPendingMessages();
    void showProgressPanel(const QString& text);
    void hideProgressPanel();
    void progressReset();
    void progressStep();
    void resizeStatusPanel(int i);
    int minimumToolbarHeight() const;
    bool archiveIsReadOnly() const;
    void runModal(QDialog& dialog);
    // After a failed open: when the archive's structure is damaged but it
    // starts like one, offers to rescue its entries into a copy beside it
    // and opens that copy. False when there is nothing to offer.
    bool offerRepair(const QString& name);
    // The selected rows in list order, and their captions as the component's names.
    std::vector<int> selectedRows() const;
    std::vector<std::string> selectedSpecs() const;

    QStringList arguments_;
    // A command of the user runs, dialogs included (one at a time; Escape
    // cancels it). Not the same span as inCommand_ below, which see.
    bool commandRunning_ = false;
    bool cancelRequested_ = false;  // by the user, for the running command
    bool lastCancelled_ = false;    // the last command was cancelled
    bool chosenTarget_ = false;     // batch extract: the dialog chose target and options
    bool closeAfterWork_ = false;   // the window closes once the command has ended
    bool autoPanel_ = false;        // the progress panel was shown for the cancel button
    QList<QAction*> heldCommands_;  // commands disabled while the component works
    QString listArchive_;           // the archive whose entries the list shows
    TListState keptListState_;      // to be restored by the next fill
    std::unique_ptr<TZipArchiver> zip_;
    QStringList pendingMessages_;
    // A call into the component runs whose messages are collected into one
    // box at its end. It spans only that call, and also the open of an
    // archive from the command line, which runs outside any command: the
    // messages said between the calls of a command (or before the window
    // has a command) are shown at once.
    bool inCommand_ = false;
    // The dialogs, created once and shown as often as needed.
    std::unique_ptr<TfrmExtr> frmExtr_;
    std::unique_ptr<TfrmAdd> frmAdd_;
    std::unique_ptr<TfrmInfo> frmInfo_;
    TArchiveListModel* model_ = nullptr;
    QTreeView* listView_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* lblInhalt_ = nullptr;
    QLabel* lblArchivName_ = nullptr;
    QWidget* panUnten_ = nullptr;
    QLabel* lblMeldung_ = nullptr;
    QLabel* lblDateiname_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* btnAbbrechen_ = nullptr;
    int progressStep_ = 1;
    QLabel* statusPanels_[4] = {};
    QMenu* popup_ = nullptr;
    std::uint64_t totalPacked_ = 0;
    std::uint64_t totalUnpacked_ = 0;
    int winStatus_ = 1;
    int columnWidths_[TArchiveListModel::kColumns] = {179, 90, 90, 105, 60};
};
