// The file and folder choosers of the main window, with a hook through which
// tests answer them without showing anything.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

enum class TFileDialogKind {
    fdOpenArchive,   // one file; need not exist (a new archive can be named)
    fdChooseViewer,  // one file; need not exist
    fdAddFiles,      // several existing files
    fdFolder         // one existing folder
};

struct TFileDialogRequest {
    TFileDialogKind Kind = TFileDialogKind::fdOpenArchive;
    QString Title;
    QString Filter;    // "Beschreibung (*.x)|*.x|..." pairs
    QString Folder;    // initial folder
    QString FileName;  // preset file name
};

// Returns the chosen paths; empty when cancelled.
using TFileDialogHook = std::function<QStringList(const TFileDialogRequest&)>;
TFileDialogHook SetFileDialogHook(TFileDialogHook hook);

QStringList RunFileDialog(const TFileDialogRequest& request, QWidget* parent);
