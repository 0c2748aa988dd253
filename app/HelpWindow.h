// The program's help: German HTML pages shipped with the program, shown in a
// small window of our own. Each window of the program has a help context
// (10 main window, 40 extract dialog, 50 add dialog) that names an anchor
// "kontext<N>" in the help's index page.
#pragma once

#include <QString>

class QWidget;

// The help's index page: next to the program (help/), in the installed
// share folder (../share/tarvik/help/) or in the source tree; when none
// exists, the first of these (so the missing path can be reported).
QString HelpFilePath();

// Opens (or raises) the help window at the given context. False when the
// help file is missing.
bool ShowHelpContext(int context, QWidget* parent = nullptr);
