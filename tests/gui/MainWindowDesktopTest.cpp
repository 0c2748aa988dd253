// The main window among other programs on a desktop: the list keeps its
// selection and place when it is refilled, each instance views entries in a
// private folder of its own, programs ask before they start, and a saved
// window position is checked against the screens there are.
#include <unistd.h>
#include <QCheckBox>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QTreeView>
#include <QUrl>

#include "MainWindowTestSupport.h"
#include "app/Batch.h"
#include "app/UniExtr.h"
#include "app/WindowPlacement.h"

class MainWindowDesktopTest : public QObject {
    Q_OBJECT

private:
    TMainWindowFixture f_;

    static QString topCaption(TfrmMain& w) {
        const QModelIndex top = w.ListView1()->indexAt(QPoint(0, 0));
        return top.isValid() ? w.Model().FileName(top.row()) : QString();
    }

private slots:
    void initTestCase() { f_.Install(); }
    void init() { f_.Reset(); }

    // After an extract and after viewing, the same entries are selected, the
    // same one is current and the list shows the same rows (row 5,000 stays
    // in view instead of jumping to the top).
    void selectionAndPlaceKept() {
        QList<QPair<QString, qint64>> entries;
        for (int i = 0; i < 6000; ++i) {
            entries.append({QStringLiteral("d/e%1.txt").arg(i, 5, 10, QLatin1Char('0')), 0});
        }
        const QString archive = f_.path(QStringLiteral("viele.zip"));
        writeSparseZip64(archive, entries);
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.resize(700, 500);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.Model().rowCount(), 6000);
        f_.selectRows(w, {5000, 5002});
        w.ListView1()->selectionModel()->setCurrentIndex(w.Model().index(5002, 0),
                                                         QItemSelectionModel::NoUpdate);
        w.ListView1()->scrollTo(w.Model().index(4990, 0), QAbstractItemView::PositionAtTop);
        QCOMPARE(topCaption(w), QStringLiteral("d/e04990.txt"));
        const QStringList selected{"d/e05000.txt", "d/e05002.txt"};
        QCOMPARE(w.SelectedCaptions(), selected);

        const QString target = f_.path(QStringLiteral("ziel"));
        QDir().mkpath(target);
        f_.answerExtractDialog(target);
        w.RunCommand(&TfrmMain::tbtEntpackenClick);
        QVERIFY(QFile::exists(target + "/d/e05002.txt"));
        QCOMPARE(w.SelectedCaptions(), selected);
        QCOMPARE(w.Model().FileName(w.ListView1()->currentIndex().row()),
                 QStringLiteral("d/e05002.txt"));
        QCOMPARE(topCaption(w), QStringLiteral("d/e04990.txt"));

        w.RunCommand(&TfrmMain::popAnzeigenVerkClick);
        QCOMPARE(f_.launched.size(), 1);
        QCOMPARE(w.SelectedCaptions(), selected);
        QCOMPARE(topCaption(w), QStringLiteral("d/e04990.txt"));

        // Another archive starts with nothing selected, at the top.
        const QString other = f_.path(QStringLiteral("andere.zip"));
        writeSparseZip64(other, entries);
        w.OeffneArchiv(other);
        QCOMPARE(w.SelectedCaptions(), QStringList());
        QCOMPARE(topCaption(w), QStringLiteral("d/e00000.txt"));
    }

    // Each instance views entries in a private folder of its own: another
    // instance that runs keeps its copies when this one closes; the folders
    // of instances that ended are removed; links and other users' folders
    // with such a name are left alone.
    void privateViewFolders() {
        const QString sys = f_.path(QStringLiteral("systmp"));
        const QString live = sys + "/TarvikTmp-lebt01";
        const QString dead = sys + "/TarvikTmp-tot001";
        const QString link = sys + "/TarvikTmp-link01";
        const QString foreign = sys + "/TarvikTmp-fremd1";
        writeFile(live + "/kopie.txt", 10, at(2024, 1, 1, 1, 1));
        writeFile(dead + "/alt.txt", 10, at(2024, 1, 1, 1, 1));
        writeFile(f_.path(QStringLiteral("wichtig/daten.txt")), 10, at(2024, 1, 1, 1, 1));
        QVERIFY(QFile::link(f_.path(QStringLiteral("wichtig")), link));
        const bool root = ::getuid() == 0;
        if (root) {
            writeFile(foreign + "/seins.txt", 10, at(2024, 1, 1, 1, 1));
            QCOMPARE(QProcess::execute("chown", {"-R", "nobody", foreign}), 0);
        }
        // The other instance: a running process holds its folder's lock (until
        // its input ends).
        QProcess other;
        other.start(QStringLiteral("flock"),
                    {QStringLiteral("-n"), QStringLiteral("-o"), live, QStringLiteral("cat")});
        QVERIFY(other.waitForStarted());
        QTest::qWait(300);
        QCOMPARE(other.state(), QProcess::Running);  // it got the lock

        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        w.FormActivate();
        QVERIFY(!QFileInfo::exists(dead));  // removed at start
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin")});
        w.RunCommand(&TfrmMain::popAnzeigenClick);
        const QString mine = TempViewFolder;
        QVERIFY(mine.startsWith(sys + "/TarvikTmp-"));
        QVERIFY(mine != live + "/");
        QCOMPARE(f_.launched.back().second, mine + "b_999.bin");
        QFileInfo info(mine);
        QCOMPARE(info.ownerId(), ::getuid());
        QCOMPARE(info.permissions() & 0x0777, QFileDevice::Permissions(0x0700));
        QVERIFY(!info.isSymLink());

        w.close();
        QVERIFY(!QFileInfo::exists(mine));
        QVERIFY(QFile::exists(live + "/kopie.txt"));
        QVERIFY(QFile::exists(f_.path(QStringLiteral("wichtig/daten.txt"))));
        QVERIFY(QFileInfo(link).isSymLink());
        if (root) {
            QVERIFY(QFile::exists(foreign + "/seins.txt"));
        }
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished());
        // Once the other instance has ended, the next start removes its folder.
        TfrmMain next;
        next.show();
        next.FormActivate();
        QVERIFY(!QFileInfo::exists(live));
        QVERIFY(QFileInfo(link).isSymLink());
    }

    // Opening a viewed entry with its associated program asks first for
    // everything that would run: scripts, desktop entries, AppImages, files
    // with an executable bit, programs without a telling name.
    void programsAskBeforeTheyStart() {
        const QString src = f_.path(QStringLiteral("programme"));
        struct TCase {
            QString name;
            QByteArray content;
            bool executableBit;
            bool asks;
        };
        const TCase cases[] = {
            {"start.sh", "echo hallo\n", false, true},
            {"Tarvik.desktop", "[Desktop Entry]\nType=Application\nExec=rm -rf ~\n", false, true},
            {"Werkzeug.AppImage",
             QByteArray("\x7F"
                        "ELF\x02\x01\x01",
                        7),
             false, true},
            {"ohne_endung", "#!/bin/sh\necho hallo\n", false, true},
            {"programm",
             QByteArray("\x7F"
                        "ELF\x02\x01\x01",
                        7),
             false, true},
            {"daten.dat", "nur Daten\n", true, true},  // the executable bit
            {"Setup.EXE", "MZ", false, true},
            {"liesmich.txt", "nur Text\n", false, false},
            {"bild.png", QByteArray("\x89PNG\r\n\x1A\n", 8), false, false},
        };
        QStringList names;
        for (const TCase& c : cases) {
            QDir().mkpath(src);
            QFile f(src + "/" + c.name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(c.content);
            f.close();
            QFileDevice::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
            if (c.executableBit) {
                p |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
            }
            QVERIFY(f.setPermissions(p));
            names << c.name;
        }
        const QString archive = f_.path(QStringLiteral("programme.zip"));
        makeZip(archive, src, names);
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        for (const TCase& c : cases) {
            f_.messages.clear();
            f_.launched.clear();
            f_.answers = {QMessageBox::No};
            f_.selectRows(w, {f_.rowOf(w, c.name)});
            w.RunCommand(&TfrmMain::popAnzeigenVerkClick);
            if (c.asks) {
                QCOMPARE(f_.messages.size(), 1);
                QCOMPARE(f_.messages.front().kind, TMessageKind::mkConfirmation);
                QCOMPARE(f_.messages.front().text,
                         QStringLiteral("Die Datei: ") + c.name +
                             QStringLiteral("\n\nist ein ausführbares Programm.\n\nSoll es "
                                            "wirklich gestartet werden?          \n\n"));
                QVERIFY2(f_.launched.isEmpty(), qPrintable(c.name));
            } else {
                QVERIFY2(f_.messages.isEmpty(), qPrintable(c.name));
                QCOMPARE(f_.launched.size(), 1);
            }
        }
        // "Ja" opens it; the viewer ("Anzeigen") opens any of them without asking.
        f_.messages.clear();
        f_.launched.clear();
        f_.answers = {QMessageBox::Yes};
        f_.selectRows(w, {f_.rowOf(w, "start.sh")});
        w.RunCommand(&TfrmMain::popAnzeigenVerkClick);
        QCOMPARE(f_.launched.size(), 1);
        QCOMPARE(f_.launched.front().first, QString());
        f_.selectRows(w, {f_.rowOf(w, "start.sh")});
        w.RunCommand(&TfrmMain::popAnzeigenClick);
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.launched.size(), 2);
    }

    void placementOnTodaysScreens() {
        const QRect primary(0, 0, 1920, 1080);
        const QRect right(1920, 0, 1280, 1024);
        const QList<QRect> two{primary, right};
        const QList<QRect> one{primary};
        struct TCase {
            const char* what;
            QRect saved;
            QList<QRect> screens;
            QRect placed;
        };
        const TCase cases[] = {
            {"on the primary screen", {100, 80, 636, 476}, two, {100, 80, 636, 476}},
            {"on the second screen", {2500, 300, 636, 476}, two, {2500, 300, 636, 476}},
            {"second screen gone", {2500, 300, 636, 476}, one, {1284, 300, 636, 476}},
            {"far away: the primary screen", {5000, 3000, 636, 476}, two, {1284, 604, 636, 476}},
            {"left screen gone", {-2000, 100, 636, 476}, one, {0, 100, 636, 476}},
            {"title bar above the screens", {2000, -300, 636, 476}, two, {2000, 0, 636, 476}},
            {"only a sliver at the edge", {1900, 50, 636, 476}, one, {1284, 50, 636, 476}},
            {"larger than the screen left", {-3000, 0, 2500, 1500}, one, {0, 0, 1920, 1080}},
            {"no screens", {9000, 9000, 636, 476}, {}, {9000, 9000, 636, 476}},
        };
        for (const TCase& c : cases) {
            QVERIFY2(PlaceOnScreens(c.saved, c.screens) == c.placed, c.what);
        }
    }

    // A window saved on a monitor that is gone opens on a screen there is.
    void savedPositionOffScreen() {
        {
            QSettings s(QSettings::IniFormat, QSettings::UserScope, "KVL", "Tarvik");
            s.setValue("Position/vonlinks", "6000");
            s.setValue("Position/vonoben", "-4000");
            s.setValue("Position/breit", "640");
            s.setValue("Position/hoch", "480");
        }
        TfrmMain w;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(QRect(w.pos(), QSize(std::min(w.width(), screen.width()), 20))),
                 qPrintable(QStringLiteral("%1,%2").arg(w.x()).arg(w.y())));
        QCOMPARE(w.width(), std::min(640, screen.width()));
    }

    // Dragging entries out hands over file URLs of extracted copies in the
    // instance's private folder: an entry without a folder as its file,
    // entries in folders as their top folder holding just the dragged entries.
    void dragEntriesOut() {
        const QString src = f_.path(QStringLiteral("ziehen"));
        writeFile(src + "/mappe/a.txt", 300, at(2024, 2, 1, 10, 0), true);
        writeFile(src + "/mappe/unter/b.txt", 400, at(2024, 2, 1, 10, 0), true);
        writeFile(src + "/einzeln.txt", 500, at(2024, 2, 1, 10, 0), true);
        writeFile(src + "/tief/innen.txt", 600, at(2024, 2, 1, 10, 0), true);
        const QString archive = f_.path(QStringLiteral("ziehen.zip"));
        makeZip(archive, src,
                {"mappe/a.txt", "mappe/unter/b.txt", "einzeln.txt", "tief/innen.txt"});
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        QVERIFY(w.ListView1()->dragEnabled());
        const int single = f_.rowOf(w, "einzeln.txt");
        const int nested = f_.rowOf(w, "mappe/unter/b.txt");
        const int inner = f_.rowOf(w, "tief/innen.txt");
        QVERIFY(single >= 0 && nested >= 0 && inner >= 0);
        QVERIFY(w.Model().flags(w.Model().index(single, 0)) & Qt::ItemIsDragEnabled);
        QVERIFY(w.Model().mimeTypes().contains("text/uri-list"));

        // The view hands over every cell of a row; each entry counts once.
        const QModelIndexList indexes{w.Model().index(single, 0), w.Model().index(single, 1),
                                      w.Model().index(nested, 0), w.Model().index(inner, 0)};
        std::unique_ptr<QMimeData> data(w.Model().mimeData(indexes));
        QVERIFY(data);
        QVERIFY(data->hasUrls());
        QMap<QString, QString> local;  // file name -> path
        for (const QUrl& u : data->urls()) {
            QVERIFY(u.isLocalFile());
            QVERIFY2(u.toLocalFile().startsWith(QFileInfo(TempViewFolder).canonicalFilePath()),
                     qPrintable(u.toLocalFile()));
            local.insert(QFileInfo(u.toLocalFile()).fileName(), u.toLocalFile());
        }
        QCOMPARE(data->urls().size(), 3);
        QCOMPARE(local.keys(), (QStringList{"einzeln.txt", "mappe", "tief"}));
        auto bytes = [](const QString& file) {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?");
        };
        QCOMPARE(bytes(local["einzeln.txt"]), bytes(src + "/einzeln.txt"));
        QCOMPARE(bytes(local["tief"] + "/innen.txt"), bytes(src + "/tief/innen.txt"));
        QCOMPARE(bytes(local["mappe"] + "/unter/b.txt"), bytes(src + "/mappe/unter/b.txt"));
        QVERIFY(!QFile::exists(local["mappe"] + "/a.txt"));  // not dragged
        QCOMPARE(f_.entryNames(archive).size(), 4);
        QVERIFY(f_.messages.isEmpty());
        // A second drag gets a folder of its own; the first one's copies stay.
        std::unique_ptr<QMimeData> again(w.Model().mimeData({w.Model().index(single, 0)}));
        QVERIFY(again);
        QVERIFY(again->urls().front().toLocalFile() != local["einzeln.txt"]);
        QVERIFY(QFile::exists(local["einzeln.txt"]));
        // Closing removes the copies with the private folder.
        const QString folderPath = TempViewFolder;
        w.close();
        QVERIFY(!QFileInfo::exists(folderPath));
    }

    // The file manager's commands: "Hier entpacken", "Entpacken nach …" and
    // "Zu ZIP-Archiv hinzufügen".
    void fileManagerCommands() {
        const QString src = f_.path(QStringLiteral("fm"));
        writeFile(src + "/eins.txt", 100, at(2024, 3, 1, 9, 0), true);
        writeFile(src + "/mappe/a.txt", 200, at(2024, 3, 1, 9, 0), true);
        writeFile(src + "/mappe/unter/b.txt", 300, at(2024, 3, 1, 9, 0), true);
        const QString here = f_.path(QStringLiteral("hier"));
        QDir().mkpath(here);
        makeZip(here + "/gemischt.zip", src, {"eins.txt", "mappe/a.txt"});
        makeZip(here + "/ordner.zip", src, {"mappe/a.txt", "mappe/unter/b.txt"});

        // Entries in one folder go beside the archive; others into a new
        // folder named after it, and a second time into "gemischt (2)".
        QCOMPARE(RunBatchCommand({"--extract-here", here + "/gemischt.zip", here + "/ordner.zip"}),
                 0);
        QVERIFY(QFile::exists(here + "/gemischt/eins.txt"));
        QVERIFY(QFile::exists(here + "/gemischt/mappe/a.txt"));
        QVERIFY(QFile::exists(here + "/mappe/unter/b.txt"));
        QCOMPARE(RunBatchCommand({"--extract-here", here + "/gemischt.zip"}), 0);
        QVERIFY(QFile::exists(here + "/gemischt (2)/eins.txt"));

        const QString target = f_.path(QStringLiteral("nach/neu"));
        QCOMPARE(RunBatchCommand({"--extract-to", target, here + "/ordner.zip"}), 0);
        QVERIFY(QFile::exists(target + "/mappe/unter/b.txt"));

        // "Entpacken nach …": the extract dialog chooses the target and options.
        const QString chosen = f_.path(QStringLiteral("gewaehlt"));
        QDir().mkpath(chosen);
        f_.dialogDriver = [chosen](QDialog& d) {
            auto* ex = qobject_cast<TfrmExtr*>(&d);
            QVERIFY(ex);
            ex->chbMitVerNam->setChecked(false);
            ex->ediZielverz->setText(chosen);
            ex->btnZielOkClick();
        };
        QCOMPARE(RunBatchCommand({"--extract-to", "", here + "/ordner.zip"}), 0);
        QVERIFY(QFile::exists(chosen + "/b.txt"));  // without folder names, as chosen
        f_.dialogDriver = [](QDialog& d) { d.reject(); };
        QCOMPARE(RunBatchCommand({"--extract-to", "", here + "/ordner.zip"}), 1);
        f_.dialogDriver = nullptr;

        // Files and folders are stored below the folder they lie in.
        const QString added = f_.path(QStringLiteral("neu.zip"));
        QCOMPARE(RunBatchCommand({"--add-to", added, src + "/eins.txt", src + "/mappe"}), 0);
        QStringList names = f_.entryNames(added);
        names.sort();
        QCOMPARE(names, (QStringList{"eins.txt", "mappe/a.txt", "mappe/unter/b.txt"}));
        QVERIFY(f_.unzipTestPasses(added));
        QVERIFY(f_.messages.isEmpty());
        // No archive named: the open/new chooser proposes FILE.zip beside the file.
        f_.chooserAnswers = {{f_.path(QStringLiteral("gewaehlt.zip"))}};
        QCOMPARE(RunBatchCommand({"--add-to", "", src + "/eins.txt"}), 0);
        QCOMPARE(f_.chooserRequests.back().FileName, QStringLiteral("eins.zip"));
        QCOMPARE(f_.chooserRequests.back().Folder, src + "/");
        QCOMPARE(f_.entryNames(f_.path(QStringLiteral("gewaehlt.zip"))), QStringList{"eins.txt"});
        QCOMPARE(RunBatchCommand({"--add-to", "", src + "/eins.txt"}), 1);  // chooser cancelled

        // Errors are shown, and the exit status tells.
        QCOMPARE(RunBatchCommand({"--extract-here", f_.path(QStringLiteral("fehlt.zip"))}), 1);
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.messages.front().text,
                 QStringLiteral("Datei nicht gefunden: ") + f_.path(QStringLiteral("fehlt.zip")));
        f_.messages.clear();
        writeFile(f_.path(QStringLiteral("kein.zip")), 100, at(2024, 3, 1, 9, 0));
        QCOMPARE(RunBatchCommand({"--extract-to", target, f_.path(QStringLiteral("kein.zip"))}), 1);
        QVERIFY(!f_.messages.isEmpty());
        QVERIFY(f_.messages.back().text.contains(QStringLiteral("beschädigt")));
        QCOMPARE(RunBatchCommand({"--add-to", added}), 2);
        QVERIFY(IsBatchCommand({"--add-to"}));
        QVERIFY(!IsBatchCommand({"archiv.zip"}));
    }
};

QTEST_MAIN(MainWindowDesktopTest)
#include "MainWindowDesktopTest.moc"
