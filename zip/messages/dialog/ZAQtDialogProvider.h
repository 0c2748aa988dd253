// Plugs the component's Qt dialog box into the component: every dialog
// request that no OnZipDialog handler answers is shown in a TZipDialogBox.
#pragma once

#include "zip/ZADialogProvider.h"

class TZAQtDialogProvider : public TZADialogProvider {
public:
    // Creates the box above the application's active window, lays it out,
    // shows it modally and returns the pressed button; a password prompt also
    // returns the entered text when OK was pressed. Without a QApplication
    // nothing is shown (modal result 0).
    TZADialogAnswer ShowDialog(const TZADialogRequest& request) override;
};

// Makes the Qt box the process-wide dialog of all components. The application
// calls it once after creating its QApplication.
TZADialogProvider& InstallQtDialogProvider();
