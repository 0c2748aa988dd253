// The help: German HTML pages compiled into the program, shown in a help window of our own
// that opens the page of a help context (10 main window, 40 extract dialog, 50 add dialog).
#pragma once

#include <QDialog>
#include <QUrl>

class QTextBrowser;

class THelpWindow : public QDialog {
    Q_OBJECT

public:
    explicit THelpWindow(QWidget* parent = nullptr);

    // Shows the page of a help context; an unknown context shows the main window's page.
    void ShowContext(int context);

    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

// The page of a help context: main window 10, extract dialog 40, add dialog 50.
QUrl HelpPageForContext(int context);

// True when the help pages are there (they are compiled in, so normally always).
bool HelpAvailable();

// Opens the shared help window at a context, creating it on first use, and raises it.
void ShowHelp(int context);

// The shared help window, or null before the first ShowHelp.
THelpWindow* HelpWindowInstance();
