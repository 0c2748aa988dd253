// Helpers shared by the GUI tests of the dialogs.
#pragma once

#include <QDir>
#include <QWidget>

// Saves a picture of `w` as NAME.png into the folder named by TARVIK_SCREENSHOT_DIR, when
// that variable is set, so the windows can be looked at after a test run.
inline void SaveScreenshot(QWidget& w, const QString& name) {
    const QString dir = qEnvironmentVariable("TARVIK_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        w.grab().save(dir + '/' + name + ".png");
    }
}
