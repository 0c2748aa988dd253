// The main window's commands run end to end as a user would: delete,
// convert, extract, add, view entries and the keys, checked on disk with
// Info-ZIP unzip; message boxes, choosers, dialogs and the viewer launcher
// are answered through hooks.
#include <unistd.h>
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>

#include "MainWindowTestSupport.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"
#include "tests/ZATestZip.h"
#include "zip/ZARecords.h"

class MainWindowCommandsTest : public QObject {
    Q_OBJECT

private:
    TMainWindowFixture f_;

    // Double-clicks the row showing `caption`, as a user does.
    static void doubleClick(TfrmMain& w, const QString& caption) {
        const int row = TMainWindowFixture::rowOf(w, caption);
        QVERIFY(row >= 0);
        const QRect r = w.ListView1()->visualRect(w.Model().index(row, 0));
        QWidget* viewport = w.ListView1()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, r.center());
    }

    // Extracts as a user does: the extract dialog with `folder` typed as the
    // target (made first), then OK.
    void extractInto(TfrmMain& w, const QString& folder) {
        QDir().mkpath(folder);
        f_.dialogDriver = [folder](QDialog& d) {
            auto* ex = qobject_cast<TfrmExtr*>(&d);
            QVERIFY(ex);
            ex->ediZielverz->setText(folder + "/");
            ex->btnZielOkClick();
        };
        w.tbtEntpackenClick();
    }

    static void trigger(TfrmMain& w, const char* item) {
        for (QAction* a : w.PopupMenu()->actions()) {
            if (a->objectName() == QLatin1String(item)) {
                a->trigger();
                return;
            }
        }
        QFAIL(item);
    }

    static QByteArray contents(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Entries whose names hold "*", "?" and "|" (ordinary characters of a
    // Unix name) beside the names those would match as patterns. Each file
    // holds its own name.
    QString makePatternNamesArchive(const QString& name) {
        const QString src = f_.path(QStringLiteral("mustersrc"));
        QDir().mkpath(src);
        for (const QString& n : kPatternNames) {
            QFile file(src + "/" + n);
            if (!file.open(QIODevice::WriteOnly)) {
                return {};
            }
            file.write(n.toUtf8());
        }
        const QString archive = f_.path(name);
        QFile::remove(archive);
        // -nw: zip takes the names literally too.
        makeZip(archive, src, kPatternNames, {QStringLiteral("-0"), QStringLiteral("-nw")});
        return archive;
    }

    void selectPatternNames(TfrmMain& w) {
        f_.selectRows(w, {f_.rowOf(w, "x*.txt"), f_.rowOf(w, "y?.txt"), f_.rowOf(w, "a|b.txt")});
        QCOMPARE(w.ListView1()->selectionModel()->selectedRows().size(), 3);
    }

    inline static const QStringList kPatternNames = {"x*.txt", "xa.txt",  "xb.txt", "y?.txt",
                                                     "ya.txt", "a|b.txt", "a",      "b.txt"};
    inline static const QStringList kPatternSelected = {"a|b.txt", "x*.txt", "y?.txt"};

private slots:
    void initTestCase() { f_.Install(); }
    void init() { f_.Reset(); }

    void deleteWholeArchive() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        // Nothing selected: the Delete command asks to mark files first.
        w.tbtLoeschClick();
        QCOMPARE(f_.messages.back().kind, TMessageKind::mkWarning);
        QCOMPARE(
            f_.messages.back().text,
            QStringLiteral("Bitte markieren Sie zuerst alle Dateien die Sie löschen möchten."));
        // Everything selected, "Nein": nothing happens.
        w.ListView1()->selectAll();
        f_.answers = {QMessageBox::No};
        w.tbtLoeschClick();
        const QString blanks(16, ' ');
        QCOMPARE(f_.messages.back().kind, TMessageKind::mkConfirmation);
        QCOMPARE(f_.messages.back().text, QStringLiteral("Soll die Datei:\n\n") + w.ArchiveName() +
                                              blanks +
                                              QStringLiteral("\n\nwirklich gelöscht werden?") +
                                              blanks + QStringLiteral("\n\n"));
        QVERIFY(QFile::exists(archive));
        // "Ja": the archive file goes and the window shows no archive.
        f_.answers = {QMessageBox::Yes};
        w.tbtLoeschClick();
        QVERIFY(!QFile::exists(archive));
        QVERIFY(w.ArchiveName().isEmpty());
        QCOMPARE(w.Model().rowCount(), 0);
        QVERIFY(w.lblArchivName()->text().isEmpty());
        for (int i = 0; i < 4; ++i) {
            QVERIFY(w.StatusPanel(i)->text().isEmpty());
        }
        QVERIFY(!f_.enabled(w, "tbtHinzu"));
    }

    void deleteSomeEntries() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin"), f_.rowOf(w, "ordner/d_text.txt")});
        // "Nein" keeps everything.
        f_.answers = {QMessageBox::No};
        w.tbtLoeschClick();
        QCOMPARE(f_.entryNames(archive).size(), 5);
        f_.answers = {QMessageBox::Yes};
        f_.messages.clear();
        w.tbtLoeschClick();
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.messages.front().kind, TMessageKind::mkConfirmation);
        QCOMPARE(f_.messages.front().title, QStringLiteral("Bestätigen"));
        QCOMPARE(f_.messages.front().text,
                 QStringLiteral("Sollen die ausgewählten Dateien aus        \n\n") +
                     w.ArchiveName() + QString(8, ' ') +
                     QStringLiteral("\n\nherausgelöscht werden?\n\n"));
        QCOMPARE(f_.entryNames(archive), (QStringList{"a_1000.bin", "C_leer.txt", "e_gross.bin"}));
        QVERIFY(TMainWindowFixture::unzipTestPasses(archive));
        // The list and the status bar follow the rewritten archive.
        QCOMPARE(f_.column(w, 0), (QStringList{"a_1000.bin", "C_leer.txt", "e_gross.bin"}));
        QCOMPARE(w.StatusPanel(0)->text(), QStringLiteral("3 Dateien"));
        QVERIFY(!w.ListView1()->selectionModel()->hasSelection());
        QVERIFY(!f_.enabled(w, "tbtLoesch"));
    }

    void extractAllAfterDelete() {
        // The delete leaves the deleted names in the component's list; an
        // extract without selection must still extract every entry.
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin")});
        f_.answers = {QMessageBox::Yes};
        w.tbtLoeschClick();
        QCOMPARE(w.Model().rowCount(), 4);
        const QString target = f_.path(QStringLiteral("alle"));
        f_.messages.clear();
        extractInto(w, target);
        QVERIFY(f_.messages.isEmpty());
        for (const char* name : {"a_1000.bin", "C_leer.txt", "e_gross.bin"}) {
            QVERIFY2(QFile::exists(target + "/" + name), name);
        }
        QVERIFY(!QFile::exists(target + "/b_999.bin"));
        // Then only the selected entry.
        const QString one = f_.path(QStringLiteral("eins"));
        f_.selectRows(w, {f_.rowOf(w, "e_gross.bin")});
        extractInto(w, one);
        QCOMPARE(QDir(one).entryList(QDir::Files), QStringList{"e_gross.bin"});
        QCOMPARE(QFileInfo(one + "/e_gross.bin").size(), 70000);
    }

    void readOnlyRefusals() {
        const QString archive = f_.makeSortArchive();
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
            f_.messages.clear();
            (w.*c.command)();
            QCOMPARE(f_.messages.size(), 1);
            QCOMPARE(f_.messages.front().kind, TMessageKind::mkWarning);
            QCOMPARE(f_.messages.front().title, QStringLiteral("Warnung"));
            QCOMPARE(f_.messages.front().text, QStringLiteral("Die Datei\n\n") + name + c.tail);
        }
        if (root) {
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), archive});
        }
        QCOMPARE(f_.entryNames(archive).size(), 5);
    }

    void keys() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ListView1()->setFocus();
        f_.messages.clear();
        // Delete without a selection asks to mark files first.
        QTest::keyClick(w.ListView1(), Qt::Key_Delete);
        QCOMPARE(f_.messages.size(), 1);
        QVERIFY(f_.messages.front().text.startsWith(QStringLiteral("Bitte markieren Sie")));
        // Delete with two entries selected deletes them.
        f_.selectRows(w, {0, 1});
        f_.answers = {QMessageBox::Yes};
        QTest::keyClick(w.ListView1(), Qt::Key_Delete);
        QCOMPARE(f_.messages.size(), 2);
        QVERIFY(f_.messages.back().text.contains(QStringLiteral("herausgelöscht werden?")));
        QCOMPARE(f_.entryNames(archive).size(), 3);
        // With everything selected it deletes the archive itself.
        w.ListView1()->setFocus();
        w.ListView1()->selectAll();
        f_.answers = {QMessageBox::Yes};
        QTest::keyClick(w.ListView1(), Qt::Key_Delete);
        QVERIFY(f_.messages.back().text.contains(QStringLiteral("wirklich gelöscht werden?")));
        QVERIFY(!QFile::exists(archive));
        QVERIFY(w.ArchiveName().isEmpty());
        // Escape quits.
        QTest::keyClick(w.ListView1(), Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    void addAndExtract() {
        const QString src = f_.path(QStringLiteral("addsrc"));
        writeFile(src + "/eins.txt", 5000, at(2024, 4, 1, 12, 0), true);
        writeFile(src + "/zwei.bin", 70000, at(2024, 4, 2, 12, 0));
        QDir().mkpath(f_.path(QStringLiteral("neu")));
        TfrmMain w;
        w.OeffneArchiv(f_.path(QStringLiteral("neu/hinzu")));
        SourceFolder = src + "/";
        f_.addEverything();
        f_.messages.clear();
        w.tbtHinzuClick();
        QVERIFY(w.panUnten()->isHidden());
        QVERIFY(AddPassword.isEmpty());
        QCOMPARE(f_.entryNames(w.ArchiveName()).size(), 2);
        QCOMPARE(w.Model().rowCount(), 2);
        QVERIFY(f_.enabled(w, "tbtEntpacken"));
        // Extract all into a new folder.
        const QString target = f_.path(QStringLiteral("ziel"));
        extractInto(w, target);
        QVERIFY(QFile::exists(target + "/eins.txt"));
        QVERIFY(QFile::exists(target + "/zwei.bin"));
        QCOMPARE(QFileInfo(target + "/zwei.bin").size(), 70000);
    }

    void addedNamesFollowThePathChoiceOnly() {
        // The names stored from the add dialog depend on its path choice, never on the
        // folder the program was started in.
        const QString src = f_.path(QStringLiteral("arch/src"));
        writeFile(src + "/top.txt", 100, at(2024, 4, 1, 12, 0));
        writeFile(src + "/docs/readme.txt", 200, at(2024, 4, 1, 12, 0));
        const QString whole = src.mid(1);  // the whole path without the leading "/"
        struct Case {
            int choice;  // 0 no path, 1 "Pfad sichern", 2 "Den gesamten Pfad sichern"
            QStringList expected;
        };
        const Case cases[] = {
            {0, {"readme.txt", "top.txt"}},
            {1, {"docs/readme.txt", "top.txt"}},
            {2, {whole + "/docs/readme.txt", whole + "/top.txt"}},
        };
        const QString startedIn[] = {QStringLiteral("/"), f_.path(QStringLiteral("arch")), src};
        const QString before = QDir::currentPath();
        int n = 0;
        for (const QString& cwd : startedIn) {
            QVERIFY(QDir::setCurrent(cwd));
            for (const Case& c : cases) {
                const QString archive = f_.path(QStringLiteral("namen%1").arg(++n));
                TfrmMain w;
                w.OeffneArchiv(archive);
                SourceFolder = src + "/";
                f_.dialogDriver = [&c](QDialog& d) {
                    auto* add = qobject_cast<TfrmAdd*>(&d);
                    QVERIFY(add);
                    add->btnMarkAllClick();
                    add->chbPfadSichern->setChecked(c.choice >= 1);
                    add->chbGesamtenPfadSichern->setChecked(c.choice == 2);
                    add->btnOkClick();
                };
                w.tbtHinzuClick();
                QStringList names = f_.entryNames(w.ArchiveName());
                names.sort();
                QVERIFY2(names == c.expected,
                         qPrintable(cwd + QStringLiteral(" / %1: ").arg(c.choice) +
                                    names.join(QStringLiteral(", "))));
            }
        }
        QDir::setCurrent(before);
    }

    void convertToExeAndBack() {
        const QString archive = f_.makeSortArchive(QStringLiteral("Daten.zip"));
        const QString exe = f_.path(QStringLiteral("Daten.exe"));
        TfrmMain w;
        w.OeffneArchiv(archive);
        f_.messages.clear();
        w.tbtUmwandelnClick();
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.messages.front().kind, TMessageKind::mkInformation);
        QCOMPARE(f_.messages.front().title, QStringLiteral("Information"));
        QCOMPARE(f_.messages.front().text,
                 QStringLiteral("Das Zip-Archiv\n\n") + archive +
                     QStringLiteral("\n\nwurde in die selbstentpackende EXE-Datei") +
                     QString(18, ' ') + QStringLiteral("\n\n") + exe +
                     QStringLiteral("\n\numgewandelt."));
        // The program is the current archive; the zip archive stays.
        QCOMPARE(w.ArchiveName(), exe);
        QCOMPARE(w.lblArchivName()->text(), QStringLiteral("Daten.exe"));
        QCOMPARE(w.Model().rowCount(), 5);
        QVERIFY(QFile::exists(archive));
        QVERIFY(contents(exe).startsWith("MZ"));
        QVERIFY(TMainWindowFixture::unzipTestPasses(exe));
        QCOMPARE(f_.entryNames(exe).size(), 5);

        // Back again, over the zip archive that stayed: a plain archive whose
        // first record is a local header.
        f_.messages.clear();
        w.tbtUmwandelnClick();
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.messages.front().kind, TMessageKind::mkInformation);
        QCOMPARE(f_.messages.front().text, QStringLiteral("Die selbstentpackende EXE-Datei") +
                                               QString(21, ' ') + QStringLiteral("\n\n") + exe +
                                               QStringLiteral("\n\nwurde in das Zip-Archiv\n\n") +
                                               archive + QStringLiteral("\n\numgewandelt."));
        QCOMPARE(w.ArchiveName(), archive);
        QVERIFY(contents(archive).startsWith(QByteArray("PK\x03\x04", 4)));
        QVERIFY(TMainWindowFixture::unzipTestPasses(archive));
        QCOMPARE(f_.entryNames(archive), f_.entryNames(exe));
        QCOMPARE(w.Model().rowCount(), 5);
    }

    void viewEntries() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Copies go to this instance's own folder in the system's temp folder.
        const auto temp = [] { return TempViewFolder; };
        const QString source = f_.path(QStringLiteral("sortsrc"));

        // The context menu's items.
        QStringList items;
        for (QAction* a : w.PopupMenu()->actions()) {
            items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
        QCOMPARE(items, (QStringList{"Anzeigen", "Mit verknüpftem Programm anzeigen", "-",
                                     "Anzeigeprogramm auswählen"}));

        // A double click opens the entry with its associated program; an
        // entry in a folder lands directly in the temporary folder.
        doubleClick(w, QStringLiteral("ordner/d_text.txt"));
        QCOMPARE(f_.launched.size(), 1);
        QCOMPARE(f_.launched.back(), qMakePair(QString(), temp() + "d_text.txt"));
        QCOMPARE(contents(temp() + "d_text.txt"), contents(source + "/ordner/d_text.txt"));

        // "Anzeigen": the viewer program; with several selected, the first in list order.
        f_.selectRows(w, {f_.rowOf(w, "e_gross.bin"), f_.rowOf(w, "b_999.bin")});
        trigger(w, "popAnzeigen");
        QCOMPARE(f_.launched.back(), qMakePair(ViewerProgram, temp() + "b_999.bin"));
        QCOMPARE(contents(temp() + "b_999.bin"), contents(source + "/b_999.bin"));
        QVERIFY(!QFile::exists(temp() + "e_gross.bin"));

        // Viewing extracts and the component reloads the list; the selection stays.
        QCOMPARE(w.SelectedCaptions(), (QStringList{"b_999.bin", "e_gross.bin"}));
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin")});
        trigger(w, "popAnzeigenVerk");
        QCOMPARE(f_.launched.back(), qMakePair(QString(), temp() + "b_999.bin"));

        // "Anzeigeprogramm auswählen" changes the viewer for the next "Anzeigen".
        const QString viewer = f_.path(QStringLiteral("bin/betrachter"));
        f_.chooserAnswers = {{viewer}};
        trigger(w, "popAnzeigePgmWahl");
        QCOMPARE(f_.chooserRequests.back().Title, QStringLiteral("Anzeigeprogramm auswählen"));
        QCOMPARE(ViewerProgram, viewer);
        f_.selectRows(w, {f_.rowOf(w, "a_1000.bin")});
        trigger(w, "popAnzeigen");
        QCOMPARE(f_.launched.back(), qMakePair(viewer, temp() + "a_1000.bin"));

        // Nothing selected: nothing happens.
        f_.selectRows(w, {});
        const auto before = f_.launched.size();
        trigger(w, "popAnzeigen");
        QCOMPARE(f_.launched.size(), before);
        QVERIFY(f_.messages.isEmpty());

        const QString folder = temp();
        QVERIFY(folder.startsWith(f_.path(QStringLiteral("systmp/TarvikTmp-"))));
        QCOMPARE(QFileInfo(folder).permissions() & 0x0777, QFileDevice::Permissions(0x0700));
        // Closing removes the temporary folder.
        w.close();
        QVERIFY(!QFileInfo::exists(folder));
    }

    // Selected entries are operated on by name: "x*.txt" is that entry, not
    // a pattern that also takes xa.txt; "a|b.txt" is not the list "a", "b.txt".
    void selectedNamesAreNotPatterns() {
        QStringList kept = kPatternNames;
        for (const QString& n : kPatternSelected) {
            kept.removeOne(n);
        }
        kept.sort();
        // Delete.
        const QString archive = makePatternNamesArchive(QStringLiteral("muster.zip"));
        QVERIFY(!archive.isEmpty());
        {
            TfrmMain w;
            w.OeffneArchiv(archive);
            selectPatternNames(w);
            f_.answers = {QMessageBox::Yes};
            w.tbtLoeschClick();
            QStringList left = f_.entryNames(archive);
            left.sort();
            QCOMPARE(left, kept);
            QVERIFY(TMainWindowFixture::unzipTestPasses(archive));
        }
        // Extract.
        const QString again = makePatternNamesArchive(QStringLiteral("muster2.zip"));
        TfrmMain w;
        w.OeffneArchiv(again);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        selectPatternNames(w);
        const QString target = f_.path(QStringLiteral("musterziel"));
        f_.messages.clear();
        extractInto(w, target);
        QVERIFY(f_.messages.isEmpty());
        QStringList written = QDir(target).entryList(QDir::Files);
        written.sort();
        QCOMPARE(written, kPatternSelected);
        for (const QString& n : kPatternSelected) {
            QCOMPARE(contents(target + "/" + n), n.toUtf8());
        }
        // View: only the entry shown is copied out and opened.
        QString temp;
        for (const QString& n : kPatternSelected) {
            f_.selectRows(w, {f_.rowOf(w, n)});
            trigger(w, "popAnzeigenVerk");
            temp = TempViewFolder;  // the window's private view folder
            QCOMPARE(f_.launched.back(), qMakePair(QString(), temp + n));
            QCOMPARE(contents(temp + n), n.toUtf8());
        }
        QStringList viewed = QDir(temp).entryList(QDir::Files);
        viewed.sort();
        QCOMPARE(viewed, kPatternSelected);
        QCOMPARE(f_.entryNames(again).size(), kPatternNames.size());
    }

    // Names from every kind of host are shown as they are read everywhere:
    // the name in the list is the name of the copy that is viewed.
    void viewNamesFromEveryHost() {
        struct Case {
            const char* name;  // stored bytes
            std::uint16_t flags;
            std::uint16_t madeBy;
            const char* unicodePath;  // nullptr: no Unicode path record
            QString shown;
        };
        const Case cases[] = {
            {"gr\xC3\xBC\xC3\x9F"
             "e.txt",
             0, 0x031E, nullptr, QStringLiteral("grüße.txt")},
            {"\xC3\x9C"
             "bersicht.txt",
             0, 0x1314, nullptr, QStringLiteral("Übersicht.txt")},
            {"caf\xE9.txt", 0, 0x0B1E, nullptr, QStringLiteral("café.txt")},
            {"Gr\x94\xE1"
             "e.txt",
             0, 0x0014, nullptr, QStringLiteral("Größe.txt")},
            {"na\xC3\xAFve.txt", 0x0800, 0x0014, nullptr, QStringLiteral("naïve.txt")},
            {"Apfel.txt", 0, 0x0014,
             "\xC3\x84"
             "pfel.txt",
             QStringLiteral("Äpfel.txt")},
        };
        std::vector<ztest::Entry> entries;
        for (const Case& c : cases) {
            std::string extra;
            if (c.unicodePath != nullptr) {
                const std::string data = zrec::BuildUnicodeData(c.name, c.unicodePath);
                ztest::Put16(extra, 0x7075);
                ztest::Put16(extra, static_cast<std::uint32_t>(data.size()));
                extra += data;
            }
            ztest::Entry e(c.name, c.shown.toStdString(), c.flags, c.madeBy, extra);
            e.crc = zrec::Crc32(e.data);
            entries.push_back(e);
        }
        const QString archive = f_.path(QStringLiteral("hosts.zip"));
        {
            QFile out(archive);
            QVERIFY(out.open(QIODevice::WriteOnly));
            const std::string bytes = ztest::BuildZip(entries);
            out.write(bytes.data(), static_cast<qint64>(bytes.size()));
        }
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QString temp;
        for (const Case& c : cases) {
            const int row = f_.rowOf(w, c.shown);
            QVERIFY2(row >= 0, qPrintable(c.shown));
            f_.selectRows(w, {row});
            trigger(w, "popAnzeigenVerk");
            temp = TempViewFolder;  // the window's private view folder
            QCOMPARE(f_.launched.back(), qMakePair(QString(), temp + c.shown));
            QCOMPARE(contents(temp + c.shown), c.shown.toUtf8());
        }
        QCOMPARE(QDir(temp).entryList(QDir::Files).size(), static_cast<int>(std::size(cases)));
    }

    void viewExecutable() {
        const QString src = f_.path(QStringLiteral("exesrc"));
        writeFile(src + "/Setup.Exe", 300, at(2024, 1, 1, 1, 1));
        const QString archive = f_.path(QStringLiteral("programm.zip"));
        makeZip(archive, src, {"Setup.Exe"});
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The associated program only after "Ja".
        f_.answers = {QMessageBox::No};
        doubleClick(w, QStringLiteral("Setup.Exe"));
        const QString copy = TempViewFolder + QStringLiteral("Setup.Exe");
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.messages.front().kind, TMessageKind::mkConfirmation);
        QCOMPARE(f_.messages.front().text,
                 QStringLiteral("Die Datei: Setup.Exe\n\nist ein ausführbares Programm.\n\n"
                                "Soll es wirklich gestartet werden?          \n\n"));
        QVERIFY(f_.launched.isEmpty());
        QVERIFY(QFile::exists(copy));
        f_.answers = {QMessageBox::Yes};
        f_.selectRows(w, {0});
        trigger(w, "popAnzeigenVerk");
        QCOMPARE(f_.launched, (QList<QPair<QString, QString>>{{QString(), copy}}));
        // The viewer opens it without asking.
        f_.messages.clear();
        f_.selectRows(w, {0});
        trigger(w, "popAnzeigen");
        QVERIFY(f_.messages.isEmpty());
        QCOMPARE(f_.launched.back(), qMakePair(ViewerProgram, copy));
    }
};

QTEST_MAIN(MainWindowCommandsTest)
#include "MainWindowCommandsTest.moc"
