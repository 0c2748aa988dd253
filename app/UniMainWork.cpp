// Work that runs in the main window: one command at a time, cancelling it
// from the progress panel or with Escape, and what happens when the window
// is closed meanwhile.
#include <QAction>
#include <QPushButton>
#include <QToolBar>

#include "app/MessageBoxes.h"
#include "app/UniMain.h"
#include "zip/messages/ZAMsg.h"

namespace {

// The catalogue's "operation cancelled by the user".
constexpr int kUserAbort = 2;

}  // namespace

void TfrmMain::RunCommand(void (TfrmMain::*command)()) {
    // Quitting (which asks first while work runs) and the help stay available.
    if (command == &TfrmMain::tbtBeendenClick || command == &TfrmMain::tbtHilfeClick) {
        (this->*command)();
        return;
    }
    runExclusive([this, command] { (this->*command)(); });
}

void TfrmMain::RunDrop(const QStringList& paths) {
    runExclusive([this, &paths] { HandleDroppedFiles(paths); });
}

void TfrmMain::runExclusive(const std::function<void()>& body) {
    if (commandRunning_) {
        return;  // one command at a time
    }
    commandRunning_ = true;
    lastCancelled_ = false;
    body();
    commandRunning_ = false;
    commandFinished();
}

void TfrmMain::EscapePressed() {
    if (commandRunning_) {
        CancelWork();
        return;
    }
    tbtEndeClick();
}

void TfrmMain::CancelWork() {
    if (!commandRunning_ || !zip_->IsBusy()) {
        return;
    }
    cancelRequested_ = true;
    btnAbbrechen_->setEnabled(false);
    zip_->SetCancel(true);
}

bool TfrmMain::isRequestedAbort(int errCode, const std::string& text) const {
    return cancelRequested_ && errCode == kUserAbort && text == MessageText(kUserAbort);
}

void TfrmMain::workStateChanged(bool busy) {
    if (!commandRunning_) {
        return;
    }
    btnAbbrechen_->setEnabled(busy && !cancelRequested_);
    if (busy) {
        // The commands wait (quitting and the help excepted); the panel with
        // the cancel button shows for the operations that have no panel of
        // their own (delete, convert, view).
        for (QAction* a : toolBar_->actions()) {
            const QString name = a->objectName();
            if (name != QLatin1String("tbtHilfe") && name != QLatin1String("tbtBeenden") &&
                a->isEnabled()) {
                a->setEnabled(false);
                heldCommands_ << a;
            }
        }
        if (panUnten_->isHidden()) {
            lblMeldung_->setText(QStringLiteral("Bearbeite Datei:"));
            lblDateiname_->clear();
            panUnten_->show();
            autoPanel_ = true;
        }
        return;
    }
    for (QAction* a : std::as_const(heldCommands_)) {
        a->setEnabled(true);
    }
    heldCommands_.clear();
    if (autoPanel_) {
        autoPanel_ = false;
        panUnten_->hide();
    }
}

void TfrmMain::commandFinished() {
    workStateChanged(false);
    ListView1SelectItem();
    lastCancelled_ = cancelRequested_;
    cancelRequested_ = false;
    btnAbbrechen_->setEnabled(false);
    if (closeAfterWork_) {
        closeAfterWork_ = false;
        close();
    }
}

bool TfrmMain::confirmCloseWhileWorking() {
    if (!commandRunning_) {
        return true;
    }
    if (closeAfterWork_) {
        return false;  // already asked: the window closes when the work has stopped
    }
    const auto answer = ShowMessage(
        TMessageKind::mkConfirmation,
        QStringLiteral("Tarvik arbeitet noch.\n\nSoll die laufende Arbeit abgebrochen und das "
                       "Programm beendet werden?"),
        QMessageBox::Yes | QMessageBox::No, this);
    if (answer == QMessageBox::Yes) {
        closeAfterWork_ = true;
        CancelWork();
    }
    return false;
}
