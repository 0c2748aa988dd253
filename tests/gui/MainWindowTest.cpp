// The main window driven as a user would: its list, states, settings,
// events and start-up, with real archives made with Info-ZIP zip and the real
// component; message boxes, choosers and dialogs are answered through hooks.
#include <unistd.h>
#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QListWidget>
#include <QTreeView>

#include "MainWindowTestSupport.h"
#include "app/FileListView.h"
#include "app/UniAdd.h"
#include "zip/ZAProgress.h"

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    TMainWindowFixture f_;

private slots:
    void initTestCase() { f_.Install(); }
    void init() { f_.Reset(); }

    void captionsCellsAndStatus() {
        const QString archive = f_.makeSortArchive();
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
        QCOMPARE(f_.column(w, 0), (QStringList{"a_1000.bin", "b_999.bin", "C_leer.txt",
                                               "e_gross.bin", "ordner/d_text.txt"}));
        QCOMPARE(f_.column(w, 2),
                 (QStringList{"1.000 Byte", "999 Byte", "", "70.000 Byte", "20.000 Byte"}));
        QCOMPARE(f_.column(w, 1).mid(0, 4),
                 (QStringList{"1.000 Byte", "999 Byte", "", "70.000 Byte"}));
        QCOMPARE(f_.column(w, 3).mid(0, 3),
                 (QStringList{"01.01.2020  08:30", "01.05.2021  10:00", "03.02.2023  04:05"}));
        QCOMPARE(f_.column(w, 4).mid(0, 4), (QStringList{"100 %  ", "100 %  ", "", "100 %  "}));
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
        QVERIFY(f_.messages.isEmpty());
    }

    // The totals are 64-bit: a 3 GB archive is no "0 Byte", 5 GiB do not wrap.
    void totalsOverTwoAndFourGiB() {
        struct TCase {
            QList<QPair<QString, qint64>> entries;
            quint64 total;
            QString size;
        };
        const TCase cases[] = {
            {{{"a.bin", 1500000000}, {"b.bin", 1500000000}}, 3000000000u, "2.861,02 MB"},
            {{{"a.bin", qint64{3} << 30}, {"b.bin", qint64{2} << 30}},
             quint64{5} << 30,
             "5.120 MB"},
        };
        for (const TCase& c : cases) {
            const QString archive = f_.path(QStringLiteral("gross.zip"));
            writeSparseZip64(archive, c.entries);
            TfrmMain w;
            w.OeffneArchiv(archive);
            QCOMPARE(w.Model().rowCount(), static_cast<int>(c.entries.size()));
            QCOMPARE(w.TotalPacked(), c.total);
            QCOMPARE(w.TotalUnpacked(), c.total);
            QCOMPARE(w.StatusPanel(2)->text(), QStringLiteral("Archivgröße: ") + c.size);
            QCOMPARE(w.StatusPanel(1)->text(), QStringLiteral("Packrate: 100 %"));
            QVERIFY(f_.messages.isEmpty());
            QFile::remove(archive);
        }
    }

    void sortOrders() {
        const QString archive = f_.makeSortArchive();
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
            QCOMPARE(f_.column(w, 0), c.names);
            QCOMPARE(ArchiveSortColumn, c.column);
            // A second click sorts the same way again.
            w.ListView1ColumnClick(c.column);
            QCOMPARE(f_.column(w, 0), c.names);
        }
        // The selection follows its rows through a re-sort.
        w.ListView1ColumnClick(0);
        f_.selectRows(w, {1});
        w.ListView1ColumnClick(3);
        QCOMPARE(w.SelectedCaptions(), QStringList{"b_999.bin"});
        // A later fill keeps the chosen column.
        w.ListView1ColumnClick(2);
        w.OeffneArchiv(archive);
        QCOMPARE(f_.column(w, 0).front(), QStringLiteral("C_leer.txt"));
    }

    void commandStates() {
        TfrmMain w;
        const char* archiveCommands[] = {"tbtHinzu", "tbtEntpacken", "tbtLoesch", "tbtUmwandeln"};
        const char* always[] = {"tbtOeffnen", "tbtInfo", "tbtHilfe", "tbtBeenden"};
        for (const char* c : archiveCommands) {
            QVERIFY2(!f_.enabled(w, c), c);
        }
        for (const char* c : always) {
            QVERIFY2(f_.enabled(w, c), c);
        }
        // A new archive (a name without extension that does not exist).
        const QString folder = f_.path(QStringLiteral("neu"));
        QDir().mkpath(folder);
        w.OeffneArchiv(folder + "/neu");
        QCOMPARE(w.ArchiveName(), folder + "/neu.zip");
        QVERIFY(f_.messages.isEmpty());
        QVERIFY(f_.enabled(w, "tbtHinzu"));
        QVERIFY(!f_.enabled(w, "tbtEntpacken"));
        QVERIFY(!f_.enabled(w, "tbtUmwandeln"));
        QVERIFY(!f_.enabled(w, "tbtLoesch"));
        QCOMPARE(OpenFolder, folder + "/");
        QCOMPARE(ExtractFolder, folder + "/");
        QVERIFY(!QFile::exists(folder + "/neu.zip"));
        // An archive with entries; delete follows the selection.
        w.OeffneArchiv(f_.makeSortArchive());
        QVERIFY(f_.enabled(w, "tbtHinzu"));
        QVERIFY(f_.enabled(w, "tbtEntpacken"));
        QVERIFY(f_.enabled(w, "tbtUmwandeln"));
        QVERIFY(!f_.enabled(w, "tbtLoesch"));
        f_.selectRows(w, {0, 2});
        QVERIFY(f_.enabled(w, "tbtLoesch"));
        f_.selectRows(w, {});
        QVERIFY(!f_.enabled(w, "tbtLoesch"));
    }

    void damagedOrEmptyArchive() {
        const QString empty = f_.path(QStringLiteral("leer.zip"));
        {
            // An end record and nothing else: a valid archive without entries.
            QFile f(empty);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
        }
        const QString junk = f_.path(QStringLiteral("kaputt.zip"));
        {
            QFile f(junk);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(300, 'x'));
        }
        for (const QString& name : {empty, junk}) {
            TfrmMain w;
            f_.messages.clear();
            w.OeffneArchiv(name);
            QVERIFY(!f_.messages.isEmpty());
            const TShownMessage& m = f_.messages.back();
            QCOMPARE(m.kind, TMessageKind::mkError);
            QVERIFY(m.text.startsWith(QStringLiteral("Die Datei\n\n") + name +
                                      QStringLiteral("\n\nenthält keine Archiv-Dateien oder ist "
                                                     "beschädigt.         ")));
            QVERIFY(
                m.text.endsWith(QStringLiteral("Öffnen Sie ein anderes Archiv, oder legen Sie "
                                               "mit „Hinzufügen“ ein neues an.")));
            QCOMPARE(w.Model().rowCount(), 0);
            QVERIFY(f_.enabled(w, "tbtHinzu"));
            QVERIFY(!f_.enabled(w, "tbtEntpacken"));
        }
    }

    void damagedArchiveOffersRepair() {
        const QString good = f_.makeSortArchive(QStringLiteral("heil.zip"));
        int rows = 0;
        {
            TfrmMain w;
            w.OeffneArchiv(good);
            rows = w.Model().rowCount();
        }
        QVERIFY(rows > 0);
        QFile in(good);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray bytes = in.readAll();
        // Without its central directory (a cut-off download), and cut in the
        // middle of its data.
        const QString noDirectory = f_.path(QStringLiteral("ohne.zip"));
        const QString half = f_.path(QStringLiteral("halb.zip"));
        for (const auto& [name, length] :
             {std::pair{noDirectory, bytes.indexOf(QByteArray("PK\x01\x02", 4))},
              std::pair{half, bytes.size() / 2}}) {
            QFile out(name);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes.left(length));
        }
        const QString target = f_.path(QStringLiteral("ohne-repariert.zip"));
        {
            // Declined: nothing is written, nothing is open.
            TfrmMain w;
            f_.messages.clear();
            f_.answers = {QMessageBox::No};
            w.OeffneArchiv(noDirectory);
            QCOMPARE(f_.messages.size(), 1);
            QCOMPARE(f_.messages.back().kind, TMessageKind::mkConfirmation);
            QVERIFY(f_.messages.back().text.contains(QStringLiteral("ist beschädigt")));
            QVERIFY(f_.messages.back().text.contains(target));
            QVERIFY(!QFile::exists(target));
            QCOMPARE(w.Model().rowCount(), 0);
        }
        {
            // Accepted: the copy holds every entry and is open; no other box.
            TfrmMain w;
            f_.messages.clear();
            f_.answers = {QMessageBox::Yes};
            w.OeffneArchiv(noDirectory);
            QCOMPARE(f_.messages.size(), 1);
            QVERIFY(QFile::exists(target));
            QCOMPARE(w.ArchiveName(), target);
            QCOMPARE(w.Model().rowCount(), rows);
            QVERIFY(f_.enabled(w, "tbtEntpacken"));
            // Once more: the first copy stays, the second gets a number.
            f_.answers = {QMessageBox::Yes};
            w.OeffneArchiv(noDirectory);
            QCOMPARE(w.ArchiveName(), f_.path(QStringLiteral("ohne-repariert-2.zip")));
        }
        {
            // Entries lost: the window says which after opening the copy.
            TfrmMain w;
            f_.messages.clear();
            f_.answers = {QMessageBox::Yes};
            w.OeffneArchiv(half);
            QCOMPARE(f_.messages.size(), 2);
            QCOMPARE(f_.messages.back().kind, TMessageKind::mkWarning);
            QVERIFY(f_.messages.back().text.contains(QStringLiteral("übersprungen")));
            QVERIFY(w.Model().rowCount() < rows);
            QCOMPARE(w.ArchiveName(), f_.path(QStringLiteral("halb-repariert.zip")));
        }
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
        QVERIFY(f_.messages.isEmpty());
        w.ZipArchiver1Message(5, "Datei fehlt");
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.messages.front().text, QStringLiteral("DLL-Fehlermeldung: Datei fehlt"));
        QCOMPARE(f_.messages.front().title, QStringLiteral("Tarvik 1.9"));
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
        const QStringList dropped{f_.path("a.txt"), f_.path("b.txt"), f_.path("c.txt")};
        w.HandleDroppedFiles(dropped);
        QCOMPARE(f_.chooserRequests.size(), 1);
        QCOMPARE(f_.chooserRequests.front().Title,
                 QStringLiteral("Zip-Archiv öffnen oder erstellen"));
        QCOMPARE(f_.chooserRequests.front().Filter,
                 QStringLiteral("Zipdateien (*.ZIP)|*.zip|Zipdateien (*.EXE)|*.exe"));
        QCOMPARE(DroppedFiles, dropped);
        QCOMPARE(SourceFolder, QFileInfo(dropped.front()).absolutePath() + "/");
        QCOMPARE(OpenFolder, SourceFolder);
    }

    void commandLine() {
        // An archive whose extension is upper case is opened directly.
        const QString src = f_.path(QStringLiteral("cmdsrc"));
        writeFile(src + "/x.txt", 10, at(2024, 1, 1, 1, 1));
        makeZip(f_.path(QStringLiteral("GROSS.ZIP")), src, {"x.txt"});
        {
            TfrmMain w({f_.path(QStringLiteral("GROSS.ZIP"))});
            w.FormActivate();
            QVERIFY(ParamIsArchive);
            QCOMPARE(w.Model().rowCount(), 1);
            QVERIFY(f_.chooserRequests.isEmpty());
            QCOMPARE(SourceFolder, f_.tmp.path() + "/");
        }
        // Any other file: the open/new dialog, then the add dialog with the file marked.
        ResetSharedState();
        f_.chooserAnswers = {{f_.path(QStringLiteral("cmdneu"))}};
        QStringList marked;
        f_.dialogDriver = [&marked](QDialog& d) {
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
        QCOMPARE(f_.chooserRequests.size(), 1);
        QCOMPARE(w.ArchiveName(), f_.path(QStringLiteral("cmdneu.zip")));
        QCOMPARE(marked, QStringList{src + "/x.txt"});
        QCOMPARE(SourceFolder, src + "/");
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
