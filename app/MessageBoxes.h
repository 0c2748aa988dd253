// The application's modal message boxes: four kinds with German titles and buttons, and a
// hook through which tests answer them without showing anything.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

enum class TMessageKind { mkWarning, mkError, mkInformation, mkConfirmation };

// Receives every message instead of a window; returns the button that answers it.
using TMessageBoxHook = std::function<QMessageBox::StandardButton(
    TMessageKind kind, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons)>;

// Installs a hook (an empty function removes it); returns the previous one.
TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook);

// The German title of a message kind: "Warnung", "Fehler", "Information", "Bestätigen".
QString MessageTitle(TMessageKind kind);

// Shows a modal message box and returns the button that closed it.
QMessageBox::StandardButton ShowMessage(TMessageKind kind, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QWidget* parent = nullptr);

// A plain message box: the application's title, no icon, an OK button. The
// hook sees it as an information with the application's title.
void ShowPlainMessage(const QString& text, QWidget* parent = nullptr);
