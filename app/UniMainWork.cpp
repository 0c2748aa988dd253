// Work that runs in the main window: cancelling it from the progress panel
// or with Escape, and what happens when the window is closed meanwhile.
#include "app/UniMain.h"

void TfrmMain::CancelWork() {
    if (zip_->IsBusy()) {
        zip_->SetCancel(true);
    }
}

void TfrmMain::commandFinished() {}
