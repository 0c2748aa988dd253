// The window says every failure once, in German: one box for a file that is
// not a zip archive and one for adding to it (the component's own box and its
// message event are not two boxes), Qt's own texts in German, and the batch
// mode answers every box instead of waiting.
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTranslator>

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
