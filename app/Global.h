// State shared by the main window and the add and extract dialogs, and the
// small helper routines they use. One instance per process; everything starts
// empty. Folder values always end with "/" once set.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>

class QTranslator;

// --- Shared application state ----------------------------------------------
extern QString ViewerProgram;   // program used by "Anzeigen" (setting "editor")
extern QString TempViewFolder;  // this instance's own folder, made on the first view
extern QString SourceFolder;    // where the add dialog starts browsing
extern QString OpenFolder;      // initial folder of the open/new dialog
extern QString ExtractFolder;   // default and last target of the extract dialog
extern QString AddPassword;     // password for the next add; empty = no encryption
extern bool ParamIsArchive;     // the first argument names an existing ".zip" file
extern int ArchiveSortColumn;   // sort column of the entry list, 0..4 (setting "zipsort")
extern int FileSortColumn;      // sort column of the add dialog (setting "dateisort")

// Owned by the main window, shared with the dialogs.
extern QStringList DroppedFiles;  // paths dropped on the main window; the add dialog empties it
extern bool DialogCancelled;      // true until a dialog is closed with OK
extern QString ExtractTarget;     // folder chosen in the extract dialog; empty when cancelled
extern bool ExtractWithPaths;     // "Mit Ordnernamen entpacken"
extern bool ExtractOverwrite;     // "Vorhandene Dateien überschreiben"
extern QString RatioText;         // status texts computed when the list is filled
extern QString SizeText;
extern bool FirstActivation;  // true from window creation until its first activation

// Resets all of the above to their start values (tests run several windows).
void ResetSharedState();

// --- Helper routines ----------------------------------------------------------
// The system's temporary folder ($TMPDIR, else /tmp) with a trailing "/".
QString GetTempFolder();
// The folder for copies of viewed entries: GetTempFolder() + "TarvikTmp-" and
// six unique characters, private (0700) to this instance, which holds a lock
// on it while it runs. "" when it cannot be made.
QString CreateTempViewFolder();
// Removes this instance's view folder (TempViewFolder) with its copies.
void RemoveTempViewFolder();
// Removes the view folders of this user's instances that have ended without
// removing theirs (crashed, killed); those of running instances stay.
void RemoveStaleTempViewFolders();
// The folder of the system's programs, with a trailing "/" (stands in for the
// Windows folder of the original design: the default viewer lives there).
QString GetWindowsFolder();
// The viewer used when the settings name none: the first text editor found
// in GetWindowsFolder(), else the desktop's generic opener.
QString DefaultViewerProgram();
// "0 Byte", "1023 Byte", "1,5 KB", "1 MB" (locale separators); 64-bit, so
// archives of 2 GiB and more show their size.
QString FormatSizeText(std::int64_t n);
// The program's version as 1..4 numbers joined by ".": 2 parts give "1.9".
QString GetVersionText(int parts);
// value x screen dpi / 96, rounded to the nearest integer.
int ScaleForDpi(int value);
// Shows a small dialog with the file's name, type, size, dates and permissions.
bool ShowFileProperties(const QString& path);
// True when the folder holds nothing; false also when it cannot be read.
bool IsFolderEmpty(const QString& path);

// Lets pending window events run, at most once every 15 ms. The component
// reports progress once per entry while it loads or rewrites an archive; a
// full turn of the event loop for each of 100,000 entries costs more than the
// work itself, and 15 ms keep the window painted and responsive.
void ProcessPendingEvents();

// --- Formatting shared by the windows -----------------------------------------
// The locale of the window's numbers and dates: the user's locale, or German,
// the language of the program's texts, when the environment names none (the
// "C" or "POSIX" locale), so that "1.000 Byte" never reads "1,000 Byte" next
// to German captions merely because no locale was set.
QLocale UserLocale(const QLocale& system = QLocale::system());

// Loads Qt's German translations (qtbase_de, from Qt's translations folder)
// into `translator`; false when the system has none.
bool LoadQtGermanTranslations(QTranslator& translator);

// Formats `value` like a "#,##.##" picture with `decimals` optional decimals:
// locale grouping when `grouping`, no leading zero (0.5 gives ",5", 0 gives "").
QString FormatPicture(double value, int decimals, bool grouping);

// `folder` with a trailing "/" (added when missing).
QString IncludeTrailingSlash(QString folder);
