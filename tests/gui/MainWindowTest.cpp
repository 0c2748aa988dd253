// The main window driven as a user would: real archives made with Info-ZIP
// zip, the real component, message boxes, choosers and dialogs answered
// through their hooks.
#include <unistd.h>
#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include "app/FileDialogs.h"
#include "app/FileListView.h"
#include "app/Global.h"
#include "app/MessageBoxes.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"
#include "app/UniMain.h"
#include "app/ZipAccess.h"
#include "zip/ZAProgress.h"

namespace {

struct TShownMessage {
    TMessageKind kind;
    QString title;
    QString text;
};

// A file with `size` bytes (repetitive when `packable`, else incompressible)
// and a modification time.
void writeFile(const QString& path, qint64 size, const QDateTime& modified, bool packable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QByteArray data(size, 'a');
    if (!packable) {
        quint32 x = 2463534242u;
        for (qint64 i = 0; i < size; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            data[i] = static_cast<char>(x & 0xFF);
        }
    }
    f.write(data);
    f.close();
    QFile g(path);
    QVERIFY(g.open(QIODevice::ReadWrite));
    QVERIFY(g.setFileTime(modified, QFileDevice::FileModificationTime));
}

// Runs Info-ZIP zip in `folder` on the given names.
void makeZip(const QString& archive, const QString& folder, const QStringList& names,
             const QStringList& options = {QStringLiteral("-0")}) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QStringLiteral("-X")} +
                                       options + QStringList{archive} + names);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
}

QDateTime at(int y, int mo, int d, int h, int mi) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, 0));
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;
    QString settingsDir_;
    QList<TShownMessage> messages_;
    QList<QMessageBox::StandardButton> answers_;  // next answers to questions
    QList<QStringList> chooserAnswers_;
    QList<TFileDialogRequest> chooserRequests_;
    std::function<void(QDialog&)> dialogDriver_;
    QList<QPair<QString, QString>> launched_;

    QString path(const QString& name) const { return tmp_.filePath(name); }

    // An archive whose entries test the cells and each column's order.
    QString makeSortArchive() {
        const QString src = path(QStringLiteral("sortsrc"));
        writeFile(src + "/b_999.bin", 999, at(2021, 5, 1, 10, 0));
        writeFile(src + "/a_1000.bin", 1000, at(2020, 1, 1, 8, 30));
        writeFile(src + "/C_leer.txt", 0, at(2023, 2, 3, 4, 5));
        writeFile(src + "/ordner/d_text.txt", 20000, at(2022, 12, 24, 18, 0), true);
        writeFile(src + "/e_gross.bin", 70000, at(2019, 7, 7, 7, 7));
        const QString archive = path(QStringLiteral("sort.zip"));
        QFile::remove(archive);
        makeZip(archive, src,
                {"b_999.bin", "a_1000.bin", "C_leer.txt", "ordner/d_text.txt", "e_gross.bin"},
                {QStringLiteral("-0")});
        // Recompress the text entry so one entry has a packing rate below 100 %.
        makeZip(archive, src, {"ordner/d_text.txt"}, {QStringLiteral("-9")});
        return archive;
    }

    QStringList column(TfrmMain& w, int col) {
        QStringList texts;
        for (int r = 0; r < w.Model().rowCount(); ++r) {
            texts << w.Model().CellText(r, col);
        }
        return texts;
    }

    bool enabled(TfrmMain& w, const char* name) {
        return w.Command(QLatin1String(name))->isEnabled();
    }

    void selectRows(TfrmMain& w, const QList<int>& rows) {
        QItemSelectionModel* sel = w.ListView1()->selectionModel();
        sel->clearSelection();
        for (int r : rows) {
            sel->select(w.Model().index(r, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    QStringList entryNames(const QString& archive) {
        QProcess p;
        p.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        settingsDir_ = path(QStringLiteral("settings"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_);
        qputenv("TMPDIR", path(QStringLiteral("systmp")).toUtf8());
        QDir().mkpath(path(QStringLiteral("systmp")));
        SetMessageBoxHook([this](TMessageKind kind, const QString& title, const QString& text,
                                 QMessageBox::StandardButtons buttons) {
            messages_.append({kind, title, text});
            if (!answers_.isEmpty()) {
                return answers_.takeFirst();
            }
            return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
        });
        SetFileDialogHook([this](const TFileDialogRequest& r) {
            chooserRequests_.append(r);
            return chooserAnswers_.isEmpty() ? QStringList() : chooserAnswers_.takeFirst();
        });
        TfrmMain::SetModalHook([this](QDialog& d) {
            if (dialogDriver_) {
                dialogDriver_(d);
            }
        });
        TfrmMain::SetLaunchHook([this](const QString& program, const QString& file) {
            launched_.append({program, file});
        });
    }

    void init() {
        ResetSharedState();
        QDir(settingsDir_).removeRecursively();
        messages_.clear();
        answers_.clear();
        chooserAnswers_.clear();
        chooserRequests_.clear();
        dialogDriver_ = nullptr;
        launched_.clear();
    }

    void captionsCellsAndStatus() {
        const QString archive = makeSortArchive();
        TfrmMain w({archive});
        w.show();
        w.FormActivate();
        QCOMPARE(w.ArchiveName(), QFileInfo(archive).absoluteFilePath());
        QStringList captions;
        for (int c = 0; c < 5; ++c) {
            captions << w.Model().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        }
        QCOMPARE(captions,
                 (QStringList{"Dateiname", "Gepackt", "Ungepackt", "Geändert am", "Packrate"}));
        QCOMPARE(w.lblInhalt()->text(), QStringLiteral("Inhalt von:"));
        QCOMPARE(w.lblArchivName()->text(), QStringLiteral("sort.zip"));
        // Sorted by name (the default): locale-aware, so "C_leer" sits between b and d.
        QCOMPARE(column(w, 0), (QStringList{"a_1000.bin", "b_999.bin", "C_leer.txt", "e_gross.bin",
                                            "ordner/d_text.txt"}));
        QCOMPARE(column(w, 2),
                 (QStringList{"1.000 Byte", "999 Byte", "", "70.000 Byte", "20.000 Byte"}));
        QCOMPARE(column(w, 1).mid(0, 4),
                 (QStringList{"1.000 Byte", "999 Byte", "", "70.000 Byte"}));
        QCOMPARE(column(w, 3).mid(0, 3),
                 (QStringList{"01.01.2020  08:30", "01.05.2021  10:00", "03.02.2023  04:05"}));
        QCOMPARE(column(w, 4).mid(0, 4), (QStringList{"100 %  ", "100 %  ", "", "100 %  "}));
        const QString rate = w.Model().CellText(4, 4);
        QVERIFY2(rate.endsWith(QStringLiteral(" %  ")) && rate.size() <= 6, qPrintable(rate));
        QCOMPARE(w.StatusPanel(0)->text(), QStringLiteral("5 Dateien"));
        QVERIFY(w.StatusPanel(1)->text().startsWith(QStringLiteral("Packrate: ")));
        QVERIFY(w.StatusPanel(1)->text().endsWith(QStringLiteral(" %")));
        QVERIFY(w.StatusPanel(2)->text().startsWith(QStringLiteral("Archivgröße: ")));
        QVERIFY(w.StatusPanel(2)->text().endsWith(QStringLiteral(" KB")));
        QCOMPARE(w.StatusPanel(3)->text(), QStringLiteral(" ") + w.ArchiveName());
        QCOMPARE(w.TotalUnpacked(), 999u + 1000u + 20000u + 70000u);
        QCOMPARE(OpenFolder, QFileInfo(archive).absolutePath() + "/");
        QCOMPARE(ExtractFolder, OpenFolder);
        QVERIFY(w.panUnten()->isHidden());
        QVERIFY(messages_.isEmpty());
    }

    void sortOrders() {
        const QString archive = makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        struct TCase {
            int column;
            QStringList names;
        };
        const TCase cases[] = {
            // Sizes: no size first, then the shorter text; 999 Byte before 1.000 Byte
            // (the packed text file is the smallest packed entry).
            {1, {"C_leer.txt", "ordner/d_text.txt", "b_999.bin", "a_1000.bin", "e_gross.bin"}},
            {2, {"C_leer.txt", "b_999.bin", "a_1000.bin", "ordner/d_text.txt", "e_gross.bin"}},
            // Newest first.
            {3, {"C_leer.txt", "ordner/d_text.txt", "b_999.bin", "a_1000.bin", "e_gross.bin"}},
            // Rate ascending: no rate and a rate that rounds to 0 first; equal rates
            // keep the order of the previous sort (newest first).
            {4, {"C_leer.txt", "ordner/d_text.txt", "b_999.bin", "a_1000.bin", "e_gross.bin"}},
            {0, {"a_1000.bin", "b_999.bin", "C_leer.txt", "e_gross.bin", "ordner/d_text.txt"}},
        };
        for (const TCase& c : cases) {
            w.ListView1ColumnClick(c.column);
            QCOMPARE(column(w, 0), c.names);
            QCOMPARE(ArchiveSortColumn, c.column);
            // A second click sorts the same way again.
            w.ListView1ColumnClick(c.column);
            QCOMPARE(column(w, 0), c.names);
        }
        // The selection follows its rows through a re-sort.
        w.ListView1ColumnClick(0);
        selectRows(w, {1});
        w.ListView1ColumnClick(3);
        QCOMPARE(w.SelectedCaptions(), QStringList{"b_999.bin"});
        // A later fill keeps the chosen column.
        w.ListView1ColumnClick(2);
        w.OeffneArchiv(archive);
        QCOMPARE(column(w, 0).front(), QStringLiteral("C_leer.txt"));
    }

    void commandStates() {
        TfrmMain w;
        const char* archiveCommands[] = {"tbtHinzu", "tbtEntpacken", "tbtLoesch", "tbtUmwandeln"};
        const char* always[] = {"tbtOeffnen", "tbtInfo", "tbtHilfe", "tbtBeenden"};
        for (const char* c : archiveCommands) {
            QVERIFY2(!enabled(w, c), c);
        }
        for (const char* c : always) {
            QVERIFY2(enabled(w, c), c);
        }
        // A new archive (a name without extension that does not exist).
        const QString folder = path(QStringLiteral("neu"));
        QDir().mkpath(folder);
        w.OeffneArchiv(folder + "/neu");
        QCOMPARE(w.ArchiveName(), folder + "/neu.zip");
        QVERIFY(messages_.isEmpty());
        QVERIFY(enabled(w, "tbtHinzu"));
        QVERIFY(!enabled(w, "tbtEntpacken"));
        QVERIFY(!enabled(w, "tbtUmwandeln"));
        QVERIFY(!enabled(w, "tbtLoesch"));
        QCOMPARE(OpenFolder, folder + "/");
        QCOMPARE(ExtractFolder, folder + "/");
        QVERIFY(!QFile::exists(folder + "/neu.zip"));
        // An archive with entries; delete follows the selection.
        w.OeffneArchiv(makeSortArchive());
        QVERIFY(enabled(w, "tbtHinzu"));
        QVERIFY(enabled(w, "tbtEntpacken"));
        QVERIFY(enabled(w, "tbtUmwandeln"));
        QVERIFY(!enabled(w, "tbtLoesch"));
        selectRows(w, {0, 2});
        QVERIFY(enabled(w, "tbtLoesch"));
        selectRows(w, {});
        QVERIFY(!enabled(w, "tbtLoesch"));
    }

    void damagedOrEmptyArchive() {
        const QString empty = path(QStringLiteral("leer.zip"));
        {
            // An end record and nothing else: a valid archive without entries.
            QFile f(empty);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
        }
        const QString junk = path(QStringLiteral("kaputt.zip"));
        {
            QFile f(junk);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(300, 'x'));
        }
        for (const QString& name : {empty, junk}) {
            TfrmMain w;
            messages_.clear();
            w.OeffneArchiv(name);
            QVERIFY(!messages_.isEmpty());
            const TShownMessage& m = messages_.back();
            QCOMPARE(m.kind, TMessageKind::mkError);
            QCOMPARE(m.text, QStringLiteral("Die Datei\n\n") + name +
                                 QStringLiteral("\n\nenthält keine Archiv-Dateien oder ist "
                                                "beschädigt.         "));
            QCOMPARE(w.Model().rowCount(), 0);
            QVERIFY(enabled(w, "tbtHinzu"));
            QVERIFY(!enabled(w, "tbtEntpacken"));
        }
    }

    void deleteWholeArchive() {
        const QString archive = makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        // Nothing selected: the Delete command asks to mark files first.
        w.tbtLoeschClick();
        QCOMPARE(messages_.back().kind, TMessageKind::mkWarning);
        QCOMPARE(
            messages_.back().text,
            QStringLiteral("Bitte markieren Sie zuerst alle Dateien die Sie löschen möchten."));
        // Everything selected, "Nein": nothing happens.
        w.ListView1()->selectAll();
        answers_ = {QMessageBox::No};
        w.tbtLoeschClick();
        const QString blanks(16, ' ');
        QCOMPARE(messages_.back().kind, TMessageKind::mkConfirmation);
        QCOMPARE(messages_.back().text, QStringLiteral("Soll die Datei:\n\n") + w.ArchiveName() +
                                            blanks +
                                            QStringLiteral("\n\nwirklich gelöscht werden?") +
                                            blanks + QStringLiteral("\n\n"));
        QVERIFY(QFile::exists(archive));
        // "Ja": the archive file goes and the window shows no archive.
        answers_ = {QMessageBox::Yes};
        w.tbtLoeschClick();
        QVERIFY(!QFile::exists(archive));
        QVERIFY(w.ArchiveName().isEmpty());
        QCOMPARE(w.Model().rowCount(), 0);
        QVERIFY(w.lblArchivName()->text().isEmpty());
        for (int i = 0; i < 4; ++i) {
            QVERIFY(w.StatusPanel(i)->text().isEmpty());
        }
        QVERIFY(!enabled(w, "tbtHinzu"));
    }

    void deleteSomeEntries() {
        const QString archive = makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        selectRows(w, {0, 1});
        answers_ = {QMessageBox::Yes};
        messages_.clear();
        w.tbtLoeschClick();
        QCOMPARE(messages_.front().text,
                 QStringLiteral("Sollen die ausgewählten Dateien aus        \n\n") +
                     w.ArchiveName() + QString(8, ' ') +
                     QStringLiteral("\n\nherausgelöscht werden?\n\n"));
        if (!OperationAvailable(TZipOperation::zoDelete)) {
            QCOMPARE(messages_.back().kind, TMessageKind::mkInformation);
            QVERIFY(messages_.back().text.contains(QStringLiteral("noch nicht verfügbar")));
            QCOMPARE(entryNames(archive).size(), 5);
            return;
        }
        QCOMPARE(entryNames(archive).size(), 3);
        QCOMPARE(w.Model().rowCount(), 3);
    }

    void readOnlyRefusals() {
        const QString archive = makeSortArchive();
        const bool root = geteuid() == 0;
        if (root) {
            // Root may write anything but an immutable file.
            if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), archive}) != 0) {
                QSKIP("no way to make a file read-only for root here");
            }
        } else {
            QFile::setPermissions(archive, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        }
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.ListView1()->selectAll();
        const QString name = w.ArchiveName();
        struct TCase {
            void (TfrmMain::*command)();
            QString tail;
        };
        const TCase cases[] = {
            {&TfrmMain::tbtHinzuClick,
             "\n\nist schreibgeschützt. Es können keine Dateien hinzugefügt werden.      "},
            {&TfrmMain::tbtLoeschClick,
             "\n\nist schreibgeschützt und kann deshalb nicht bearbeitetwerden werden.     "},
            {&TfrmMain::tbtUmwandelnClick,
             "\n\nist schreibgeschützt und kann deshalb nicht umgewandelt werden.      "},
        };
        for (const TCase& c : cases) {
            messages_.clear();
            (w.*c.command)();
            QCOMPARE(messages_.size(), 1);
            QCOMPARE(messages_.front().kind, TMessageKind::mkWarning);
            QCOMPARE(messages_.front().title, QStringLiteral("Warnung"));
            QCOMPARE(messages_.front().text, QStringLiteral("Die Datei\n\n") + name + c.tail);
        }
        if (root) {
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), archive});
        }
        QCOMPARE(entryNames(archive).size(), 5);
    }

    void settingsRoundTrip() {
        {
            TfrmMain w;
            // First start: the defaults.
            QCOMPARE(w.pos(), QPoint(0, 0));
            QCOMPARE(ArchiveSortColumn, 0);
            QCOMPARE(FileSortColumn, 2);
            QCOMPARE(ViewerProgram, DefaultViewerProgram());
            w.show();
            w.FormActivate();
            QCOMPARE(w.ListView1()->header()->sectionSize(0), 179);
            QCOMPARE(w.ListView1()->header()->sectionSize(1), 90);
            QCOMPARE(w.ListView1()->header()->sectionSize(4), 60);
            // The date column may be widened for the desktop font; the window grows with it.
            const int date = w.ListView1()->header()->sectionSize(3);
            QVERIFY(date >= 105);
            QCOMPARE(w.width(), 636 + date - 105);
            w.move(40, 30);
            w.resize(700, 560);
            w.ListView1()->header()->resizeSection(0, 222);
            ArchiveSortColumn = 3;
            FileSortColumn = 1;
            ViewerProgram = QStringLiteral("/opt/bin/betrachter");
            w.close();
        }
        QSettings s(QSettings::IniFormat, QSettings::UserScope, "KVL", "Tarvik");
        QCOMPARE(s.value("Position/winstatus").toString(), QStringLiteral("1"));
        QCOMPARE(s.value("Position/breit").toString(), QStringLiteral("700"));
        QCOMPARE(s.value("Position/hoch").toString(), QStringLiteral("560"));
        QCOMPARE(s.value("Position/breitdateiname").toString(), QStringLiteral("222"));
        QCOMPARE(s.value("Optionen/zipsort").toString(), QStringLiteral("3"));
        QCOMPARE(s.value("Optionen/dateisort").toString(), QStringLiteral("1"));
        QCOMPARE(s.value("Optionen/editor").toString(), QStringLiteral("/opt/bin/betrachter"));
        // Non-numeric text reads as the default.
        s.setValue("Position/breitgepackt", "viel");
        s.sync();
        ResetSharedState();
        {
            TfrmMain w;
            QCOMPARE(w.size(), QSize(700, 560));
            QCOMPARE(ArchiveSortColumn, 3);
            QCOMPARE(FileSortColumn, 1);
            QCOMPARE(ViewerProgram, QStringLiteral("/opt/bin/betrachter"));
            w.show();
            w.FormActivate();
            QCOMPARE(w.ListView1()->header()->sectionSize(0), 222);
            QCOMPARE(w.ListView1()->header()->sectionSize(1), 90);
            // Closing maximised keeps the normal bounds.
            w.showMaximized();
            QCoreApplication::processEvents();
            if (!w.isMaximized()) {
                QSKIP("this platform cannot maximise");
            }
            w.close();
        }
        QSettings t(QSettings::IniFormat, QSettings::UserScope, "KVL", "Tarvik");
        QCOMPARE(t.value("Position/winstatus").toString(), QStringLiteral("2"));
        QCOMPARE(t.value("Position/breit").toString(), QStringLiteral("700"));
    }

    void progressReports() {
        TfrmMain w;
        TProgDetails d;
        struct TCase {
            qint64 size;
            int maximum;
            int positionAfterStart;
            int reports;
            int positionAfterReports;
        };
        const TCase cases[] = {
            {100000, 3, 1, 3, 3},  // 100000 / 32768 = 3 blocks; stops at the maximum
            {1000, 1, 1, 2, 1},    // small: one step at once, shown as done
            {65536, 2, 1, 1, 2},   // two blocks, no step at once
            {32768, 1, 1, 0, 1},   // one block
        };
        for (const TCase& c : cases) {
            d.NewItem("Ordner/datei.bin", c.size);
            w.ZipArchiver1Progress(d);
            QCOMPARE(w.lblDateiname()->text(), QStringLiteral("Ordner/datei.bin"));
            QCOMPARE(w.ProgressBar1()->minimum(), 1);
            QCOMPARE(w.ProgressBar1()->maximum(), c.maximum);
            QCOMPARE(w.ProgressBar1()->value(), c.positionAfterStart);
            for (int i = 0; i < c.reports; ++i) {
                d.Advance(32768);
                w.ZipArchiver1Progress(d);
            }
            QCOMPARE(w.ProgressBar1()->value(), c.positionAfterReports);
        }
        d.EndBatch();
        w.ZipArchiver1Progress(d);
        QVERIFY(w.lblDateiname()->text().isEmpty());
        QCOMPARE(w.ProgressBar1()->maximum(), 10);
        QCOMPARE(w.ProgressBar1()->value(), 1);
    }

    void componentMessages() {
        TfrmMain w;
        w.ZipArchiver1Message(0, "Trace: nichts");
        QVERIFY(messages_.isEmpty());
        w.ZipArchiver1Message(5, "Datei fehlt");
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_.front().text, QStringLiteral("DLL-Fehlermeldung: Datei fehlt"));
        QCOMPARE(messages_.front().title, QStringLiteral("Tarvik 1.9"));
    }

    void storedNameTrimming() {
        TfrmMain w;
        struct TCase {
            QString source;
            std::string name;
            std::string expected;
            bool changed;
        };
        const TCase cases[] = {
            {"/home/u/Daten/Fotos/", "home/u/Daten/Fotos/Urlaub/bild.jpg", "/Urlaub/bild.jpg",
             true},
            {"/home/u/Daten/Fotos/", "/home/u/Daten/Fotos/bild.jpg", "/bild.jpg", true},
            {"/", "home/u/x.txt", "home/u/x.txt", false},
            // A name from elsewhere is not cut at a random place.
            {"/home/u/Daten/Fotos/", "tmp/anders.txt", "tmp/anders.txt", false},
        };
        for (const TCase& c : cases) {
            SourceFolder = c.source;
            std::string name = c.name;
            bool changed = false;
            w.ZipArchiver1SetAddName(name, "", changed);
            QCOMPARE(QString::fromStdString(name), QString::fromStdString(c.expected));
            QCOMPARE(changed, c.changed);
        }
        // "Den gesamten Pfad sichern" keeps every name.
        w.frmAdd().chbGesamtenPfadSichern->setChecked(true);
        if (w.frmAdd().chbGesamtenPfadSichern->isChecked()) {
            SourceFolder = "/home/u/";
            std::string name = "home/u/a.txt";
            bool changed = false;
            w.ZipArchiver1SetAddName(name, "", changed);
            QCOMPARE(name, std::string("home/u/a.txt"));
            QVERIFY(!changed);
        }
    }

    void droppedFilesWithoutArchive() {
        TfrmMain w;
        const QStringList dropped{path("a.txt"), path("b.txt"), path("c.txt")};
        w.HandleDroppedFiles(dropped);
        QCOMPARE(chooserRequests_.size(), 1);
        QCOMPARE(chooserRequests_.front().Title,
                 QStringLiteral("Zip-Archiv öffnen oder erstellen"));
        QCOMPARE(chooserRequests_.front().Filter,
                 QStringLiteral("Zipdateien (*.ZIP)|*.zip|Zipdateien (*.EXE)|*.exe"));
        QCOMPARE(DroppedFiles, dropped);
        QCOMPARE(SourceFolder, QFileInfo(dropped.front()).absolutePath() + "/");
        QCOMPARE(OpenFolder, SourceFolder);
    }

    void commandLine() {
        // An archive whose extension is upper case is opened directly.
        const QString src = path(QStringLiteral("cmdsrc"));
        writeFile(src + "/x.txt", 10, at(2024, 1, 1, 1, 1));
        makeZip(path(QStringLiteral("GROSS.ZIP")), src, {"x.txt"});
        {
            TfrmMain w({path(QStringLiteral("GROSS.ZIP"))});
            w.FormActivate();
            QVERIFY(ParamIsArchive);
            QCOMPARE(w.Model().rowCount(), 1);
            QVERIFY(chooserRequests_.isEmpty());
            QCOMPARE(SourceFolder, tmp_.path() + "/");
        }
        // Any other file: the open/new dialog, then the add dialog with the file marked.
        ResetSharedState();
        chooserAnswers_ = {{path(QStringLiteral("cmdneu"))}};
        QStringList marked;
        dialogDriver_ = [&marked](QDialog& d) {
            auto* add = qobject_cast<TfrmAdd*>(&d);
            QVERIFY(add);
            for (int row : add->lviFiles->SelectedRows()) {
                marked << add->lviFiles->Item(row).fullPath;
            }
            add->btnAbbrechenClick();
        };
        TfrmMain w({src + "/x.txt"});
        w.FormActivate();
        QVERIFY(!ParamIsArchive);
        QCOMPARE(chooserRequests_.size(), 1);
        QCOMPARE(w.ArchiveName(), path(QStringLiteral("cmdneu.zip")));
        QCOMPARE(marked, QStringList{src + "/x.txt"});
        QCOMPARE(SourceFolder, src + "/");
    }

    void keys() {
        TfrmMain w;
        w.OeffneArchiv(makeSortArchive());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ListView1()->setFocus();
        messages_.clear();
        QTest::keyClick(w.ListView1(), Qt::Key_Delete);
        QCOMPARE(messages_.size(), 1);
        QVERIFY(messages_.front().text.startsWith(QStringLiteral("Bitte markieren Sie")));
        QTest::keyClick(w.ListView1(), Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    void addAndExtract() {
        const QString src = path(QStringLiteral("addsrc"));
        writeFile(src + "/eins.txt", 5000, at(2024, 4, 1, 12, 0), true);
        writeFile(src + "/zwei.bin", 70000, at(2024, 4, 2, 12, 0));
        TfrmMain w;
        w.OeffneArchiv(path(QStringLiteral("neu/hinzu")));
        SourceFolder = src + "/";
        // The add dialog: mark everything, OK.
        dialogDriver_ = [](QDialog& d) {
            auto* add = qobject_cast<TfrmAdd*>(&d);
            QVERIFY(add);
            add->btnMarkAllClick();
            add->btnOkClick();
        };
        messages_.clear();
        w.tbtHinzuClick();
        QVERIFY(w.panUnten()->isHidden());
        QVERIFY(AddPassword.isEmpty());
        if (!OperationAvailable(TZipOperation::zoAdd)) {
            QCOMPARE(messages_.size(), 1);
            QVERIFY(messages_.front().text.contains(QStringLiteral("noch nicht verfügbar")));
            QVERIFY(!QFile::exists(w.ArchiveName()));
            return;
        }
        QCOMPARE(entryNames(w.ArchiveName()).size(), 2);
        QCOMPARE(w.Model().rowCount(), 2);
        QVERIFY(enabled(w, "tbtEntpacken"));
        // Extract all into a new folder.
        const QString target = path(QStringLiteral("ziel"));
        QDir().mkpath(target);
        dialogDriver_ = [target](QDialog& d) {
            auto* ex = qobject_cast<TfrmExtr*>(&d);
            QVERIFY(ex);
            ex->ediZielverz->setText(target + "/");
            ex->btnZielOkClick();
        };
        w.tbtEntpackenClick();
        QVERIFY(QFile::exists(target + "/eins.txt"));
        QVERIFY(QFile::exists(target + "/zwei.bin"));
        QCOMPARE(QFileInfo(target + "/zwei.bin").size(), 70000);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
