// Whether opening a file with its associated program would run it: the
// viewed copy of such an entry is opened only after a question.
#pragma once

#include <QString>

// True for programs and scripts of this desktop and of Windows: an executable
// bit, a "#!" script or a binary program (ELF, MZ), a desktop entry, an
// AppImage, or a name or content type the desktop starts as a program.
bool OpensAsProgram(const QString& path);
