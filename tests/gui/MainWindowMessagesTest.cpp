// The window says every failure once, in German: one box for a file that is
// not a zip archive and one for adding to it (the component's own box and its
// message event are not two boxes), Qt's own texts in German, and the batch
// mode answers every box instead of waiting.
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTimer>
#include <QTranslator>
#include <algorithm>

#include "MainWindowTestSupport.h"
#include "app/UniAdd.h"
#include "zip/ZADialogProvider.h"

namespace {

// Counts the component's own boxes (the program shows them in the Qt box).
class TCountingDialogs : public TZADialogProvider {
public:
    TZADialogAnswer ShowDialog(const TZADialogRequest& r) override {
        texts.append(QString::fromStdString(r.Text));
        return {mrOk, {}};
    }
    QStringList texts;
};

}  // namespace

class MainWindowMessagesTest : public QObject {
    Q_OBJECT
    TMainWindowFixture f_;
    TCountingDialogs dialogs_;

private slots:
    void initTestCase() {
        f_.Install();
        SetDefaultDialogProvider(&dialogs_);
    }
    void init() {
        f_.Reset();
        dialogs_.texts.clear();
    }

    void notAZipArchiveIsOneBoxAndSoIsAddingToIt() {
        const QString junk = f_.path(QStringLiteral("kein.zip"));
        {
            QFile f(junk);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(300, 'x'));
        }
        TfrmMain w;
        w.OeffneArchiv(junk);
        QCOMPARE(dialogs_.texts, QStringList());
        QCOMPARE(f_.messages.size(), 1);
        const QString& text = f_.messages.front().text;
        QVERIFY2(text.contains(QStringLiteral("enthält keine Archiv-Dateien")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("keine gültige ZIP-Datei")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Öffnen Sie ein anderes Archiv")), qPrintable(text));

        const QString src = f_.path(QStringLiteral("addsrc"));
        writeFile(src + "/eins.txt", 500, at(2024, 4, 1, 12, 0), true);
        SourceFolder = src + "/";
        f_.addEverything();
        f_.messages.clear();
        w.tbtHinzuClick();
        QCOMPARE(dialogs_.texts, QStringList());
        QCOMPARE(f_.messages.size(), 1);
        QCOMPARE(f_.messages.front().text,
                 QStringLiteral("DLL-Fehlermeldung: Dieses (SFX-) Archiv ist keine gültige "
                                "ZIP-Datei"));
        // Nothing was written into the file that is not an archive.
        QFile f(junk);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(300, 'x'));
    }

    // Another program rewriting the archive holds its lock: the delete waits,
    // saying so in the progress panel, and no error box follows.
    void waitingForAnotherProgramIsAStatusNotAnError() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        w.show();
        QProcess other;
        other.start(QStringLiteral("flock"),
                    {QStringLiteral("-x"), archive, QStringLiteral("sleep"), QStringLiteral("1")});
        QVERIFY(other.waitForStarted());
        QTest::qWait(200);
        QCOMPARE(other.state(), QProcess::Running);  // it holds the lock
        QStringList shown;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QString text = w.lblDateiname()->text();
            if (w.lblDateiname()->isVisible() && !shown.contains(text)) {
                shown << text;
            }
        });
        watch.start(0);
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin")});
        f_.messages.clear();
        f_.answers = {QMessageBox::Yes};
        w.RunCommand(&TfrmMain::tbtLoeschClick);
        watch.stop();
        other.waitForFinished();
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(f_.entryNames(archive).size(), 4);
        for (const TShownMessage& m : std::as_const(f_.messages)) {
            QVERIFY2(m.kind == TMessageKind::mkConfirmation, qPrintable(m.text));
        }
        const QString notice = QStringLiteral("von einem anderen Programm geändert");
        QVERIFY2(std::any_of(shown.begin(), shown.end(),
                             [&](const QString& t) { return t.contains(notice); }),
                 qPrintable(shown.join(QLatin1Char('|'))));
    }

    void qtTextsAreGerman() {
        QTranslator qt;
        if (!LoadQtGermanTranslations(qt)) {
            QSKIP("Qt's German translations (qt6-translations-l10n) are not installed");
        }
        QCoreApplication::installTranslator(&qt);
        QLineEdit edit;
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList texts;  // without the shortcut after the tab
        for (const QAction* a : menu->actions()) {
            if (!a->isSeparator()) {
                texts.append(a->text().section(QLatin1Char('\t'), 0, 0));
            }
        }
        QCoreApplication::removeTranslator(&qt);
        QVERIFY2(!texts.contains(QStringLiteral("Cu&t")), qPrintable(texts.join('|')));
        QVERIFY2(!texts.contains(QStringLiteral("&Paste")), qPrintable(texts.join('|')));
        QVERIFY2(texts.contains(QStringLiteral("&Ausschneiden")), qPrintable(texts.join('|')));
    }

    void screenshotOfANonZipDoesNotWait() {
        const QString junk = f_.path(QStringLiteral("text.zip"));
        {
            QFile f(junk);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(300, 'x'));
        }
        const QString png = f_.path(QStringLiteral("bild.png"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TARVIK_APP_PATH), {QStringLiteral("--screenshot"), png, junk});
        const bool ended = p.waitForFinished(60000);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        QVERIFY2(ended, "tarvik --screenshot waits for an answer");
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFile::exists(png));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(err.count(QStringLiteral("enthält keine Archiv-Dateien")), 1);
    }
};

QTEST_MAIN(MainWindowMessagesTest)
#include "MainWindowMessagesTest.moc"
