// Cancelling work in the main window: the progress panel's "Abbrechen" and
// Escape stop add, extract, delete and conversion through the component and
// leave the archive as it was; closing the window while work runs asks
// first; no other command starts meanwhile.
#include <QAction>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include "GuiTestSupport.h"
#include "MainWindowTestSupport.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"

namespace {

QByteArray digest(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result();
}

// Runs `action` once, the first time the component works inside a command
// with the cancel button up; `fired` tells afterwards whether it ran.
class TWhileBusy {
public:
    TWhileBusy(TfrmMain& w, std::function<void()> action) : action_(std::move(action)) {
        QObject::connect(&timer_, &QTimer::timeout, [this, &w] {
            if (!fired && w.ZipArchiver1().IsBusy() && w.btnAbbrechen()->isVisible() &&
                w.btnAbbrechen()->isEnabled()) {
                fired = true;
                timer_.stop();
                action_();
            }
        });
        timer_.start(0);
    }
    bool fired = false;

private:
    QTimer timer_;
    std::function<void()> action_;
};

}  // namespace

class MainWindowCancelTest : public QObject {
    Q_OBJECT

private:
    TMainWindowFixture f_;
    QString big_;  // a folder of large incompressible files

    // The add dialog marks everything in `folder` and confirms.
    void addAllFrom(TfrmMain& w, const QString& folder) {
        SourceFolder = folder + "/";
        f_.dialogDriver = [](QDialog& d) {
            auto* add = qobject_cast<TfrmAdd*>(&d);
            QVERIFY(add);
            add->btnMarkAllClick();
            add->btnOkClick();
        };
        w.RunCommand(&TfrmMain::tbtHinzuClick);
    }

    // An archive of the large files (stored, so that it is as large as they are).
    QString bigArchive(const QString& name) {
        const QString archive = f_.path(name);
        QFile::remove(archive);
        makeZip(archive, big_, QDir(big_).entryList(QDir::Files));
        return archive;
    }

    static void pressCancel(TfrmMain& w) { QTest::mouseClick(w.btnAbbrechen(), Qt::LeftButton); }
    static void pressEscape(TfrmMain& w) {
        QApplication::setActiveWindow(&w);
        QTest::keyClick(w.ListView1(), Qt::Key_Escape);
    }

    // After a cancel: nothing runs, the panel is gone, the commands are back,
    // and no message repeated what the user asked for.
    void checkIdle(TfrmMain& w) {
        for (const TShownMessage& m : f_.messages) {
            qWarning("%s", qPrintable(m.text));
        }
        QVERIFY(f_.messages.isEmpty());
        QVERIFY(!w.CommandRunning());
        QVERIFY(w.panUnten()->isHidden());
        QVERIFY(!w.btnAbbrechen()->isEnabled());
        QVERIFY(w.Command(QStringLiteral("tbtOeffnen"))->isEnabled());
        QVERIFY(w.Command(QStringLiteral("tbtInfo"))->isEnabled());
    }

private slots:
    void initTestCase() {
        f_.Install();
        big_ = f_.path(QStringLiteral("gross"));
        for (int i = 0; i < 4; ++i) {
            writeFile(big_ + QStringLiteral("/teil%1.bin").arg(i), 12 << 20, at(2024, 5, 1, 8, i));
        }
    }
    void init() { f_.Reset(); }

    void addCancelledKeepsTheArchive() {
        for (bool escape : {false, true}) {
            f_.messages.clear();
            const QString archive = f_.makeSortArchive();
            const QByteArray before = digest(archive);
            TfrmMain w;
            w.OeffneArchiv(archive);
            w.show();
            TWhileBusy cancel(w, [&w, escape] {
                SaveScreenshot(w, QStringLiteral("abbrechen"));
                escape ? pressEscape(w) : pressCancel(w);
            });
            addAllFrom(w, big_);
            QVERIFY(cancel.fired);
            // The user asked for the stop: no message tells them again.
            QVERIFY(f_.messages.isEmpty());
            QCOMPARE(digest(archive), before);
            QVERIFY(f_.unzipTestPasses(archive));
            QCOMPARE(w.Model().rowCount(), 5);
            QVERIFY(w.isVisible());  // Escape cancelled the work, not the window
            checkIdle(w);
            // No copy of the unfinished archive stays behind.
            QCOMPARE(QDir(f_.path(QString())).entryList({"*.tmp", "*.$$$"}, QDir::Files),
                     QStringList());
        }
    }

    void addToNewArchiveCancelledLeavesNoArchive() {
        TfrmMain w;
        w.OeffneArchiv(f_.path(QStringLiteral("neu/frisch")));
        QDir().mkpath(f_.path(QStringLiteral("neu")));
        w.show();
        TWhileBusy cancel(w, [&w] { pressCancel(w); });
        addAllFrom(w, big_);
        QVERIFY(cancel.fired);
        // Nothing half-written stays behind.
        QCOMPARE(QDir(f_.path(QStringLiteral("neu"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList());
        checkIdle(w);
    }

    void extractCancelled() {
        const QString archive = bigArchive(QStringLiteral("entpacken.zip"));
        const QByteArray before = digest(archive);
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        const QString target = f_.path(QStringLiteral("ziel"));
        QDir().mkpath(target);
        f_.answerExtractDialog(target);
        TWhileBusy cancel(w, [&w] { pressEscape(w); });
        w.RunCommand(&TfrmMain::tbtEntpackenClick);
        QVERIFY(cancel.fired);
        QCOMPARE(digest(archive), before);
        // Not everything arrived whole.
        int whole = 0;
        for (const QFileInfo& fi : QDir(target).entryInfoList(QDir::Files)) {
            whole += fi.size() == (12 << 20) ? 1 : 0;
        }
        QVERIFY2(whole < 4, qPrintable(QString::number(whole)));
        checkIdle(w);
    }

    void deleteCancelled() {
        const QString archive = bigArchive(QStringLiteral("loeschen.zip"));
        const QByteArray before = digest(archive);
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        f_.selectRows(w, {0});
        f_.answers = {QMessageBox::Yes};
        TWhileBusy cancel(w, [&w] { pressCancel(w); });
        w.RunCommand(&TfrmMain::tbtLoeschClick);
        QVERIFY(cancel.fired);
        QCOMPARE(digest(archive), before);
        QCOMPARE(f_.entryNames(archive).size(), 4);
        QCOMPARE(f_.messages.size(), 1);  // the question before the delete
        f_.messages.clear();
        checkIdle(w);
    }

    void convertCancelled() {
        const QString archive = bigArchive(QStringLiteral("umwandeln.zip"));
        const QByteArray before = digest(archive);
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        TWhileBusy cancel(w, [&w] { pressCancel(w); });
        w.RunCommand(&TfrmMain::tbtUmwandelnClick);
        QVERIFY(cancel.fired);
        QCOMPARE(digest(archive), before);
        QVERIFY(!QFile::exists(f_.path(QStringLiteral("umwandeln.exe"))));
        QCOMPARE(w.ArchiveName(), QFileInfo(archive).absoluteFilePath());
        checkIdle(w);
    }

    // While an add runs, no other command starts: not from the buttons, not
    // from the keys, not a whole-archive delete.
    void noSecondCommandWhileWorking() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        QStringList refused;
        TWhileBusy during(w, [&] {
            for (const char* name : {"tbtOeffnen", "tbtEntpacken", "tbtHinzu", "tbtLoesch",
                                     "tbtUmwandeln", "tbtInfo"}) {
                if (w.Command(QLatin1String(name))->isEnabled()) {
                    refused << QLatin1String(name);
                }
                w.Command(QLatin1String(name))->trigger();
            }
            w.ListView1()->selectAll();
            f_.answers = {QMessageBox::Yes, QMessageBox::Yes};
            QApplication::setActiveWindow(&w);
            QTest::keyClick(w.ListView1(), Qt::Key_Delete);
            QTest::keyClick(w.ListView1(), Qt::Key_O, Qt::ControlModifier);
            QTest::keyClick(w.ListView1(), Qt::Key_Return);
        });
        f_.messages.clear();
        addAllFrom(w, big_);
        QVERIFY(during.fired);
        QCOMPARE(refused, QStringList());  // every command was disabled
        QVERIFY(f_.messages.isEmpty());
        QVERIFY(f_.chooserRequests.isEmpty());
        QVERIFY(f_.launched.isEmpty());
        // The add ran to its end and the archive is there with everything.
        QVERIFY(QFile::exists(archive));
        QCOMPARE(f_.entryNames(archive).size(), 9);
        checkIdle(w);
    }

    // Closing the window while an add runs asks; "Nein" lets the add finish
    // and keeps the window, "Ja" cancels the add and then closes the window.
    void closeWhileWorkingAsks() {
        for (bool yes : {false, true}) {
            const QString archive = f_.makeSortArchive();
            const QByteArray before = digest(archive);
            TfrmMain w;
            w.OeffneArchiv(archive);
            w.show();
            f_.messages.clear();
            bool visibleAfterClose = false;
            TWhileBusy during(w, [&] {
                f_.answers = {yes ? QMessageBox::Yes : QMessageBox::No};
                w.close();
                visibleAfterClose = w.isVisible();
            });
            addAllFrom(w, big_);
            QVERIFY(during.fired);
            QVERIFY(visibleAfterClose);
            QCOMPARE(f_.messages.size(), 1);
            QCOMPARE(f_.messages.front().kind, TMessageKind::mkConfirmation);
            QCOMPARE(f_.messages.front().text,
                     QStringLiteral("Tarvik arbeitet noch.\n\nSoll die laufende Arbeit "
                                    "abgebrochen und das Programm beendet werden?"));
            if (yes) {
                QVERIFY(!w.isVisible());
                QCOMPARE(digest(archive), before);
            } else {
                QVERIFY(w.isVisible());
                QCOMPARE(f_.entryNames(archive).size(), 9);
            }
        }
    }
};

QTEST_MAIN(MainWindowCancelTest)
#include "MainWindowCancelTest.moc"
