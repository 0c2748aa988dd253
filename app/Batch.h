// The file manager's commands: "Hier entpacken", "Entpacken nach …" and
// "Zu ZIP-Archiv hinzufügen" run the program with
//
//   tarvik --extract-here ARCHIV...        each archive into its own folder
//                                          (a new one named after it when its
//                                          entries do not lie in one folder)
//   tarvik --extract-to ZIEL ARCHIV...     every archive into ZIEL (ZIEL "":
//                                          chosen in the extract dialog)
//   tarvik --add-to ARCHIV DATEI...        files and folders into the archive
//                                          (ARCHIV "": chosen in the open/new
//                                          chooser, DATEI.zip proposed)
//
// The main window shows the work with its progress panel ("Abbrechen"
// included) and its messages, and closes when the work is done.
#pragma once

#include <QStringList>

// True when the arguments start with one of the commands above.
bool IsBatchCommand(const QStringList& arguments);

// Runs the command: 0 when everything was done, 1 when something failed or
// was cancelled, 2 for a call without the needed names (a German usage text
// goes to the error output).
int RunBatchCommand(const QStringList& arguments);
