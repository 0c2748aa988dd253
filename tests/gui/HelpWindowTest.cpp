// The help: every context opens its German page, links between the pages resolve, and F1
// in the dialogs opens their page.
#include "GuiTestSupport.h"
#include "app/Global.h"
#include "app/HelpWindow.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QtTest>

class HelpWindowTest : public QObject {
    Q_OBJECT

private slots:
    void pagesForContexts_data() {
        QTest::addColumn<int>("context");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("title");
        QTest::newRow("main window") << 10 << "hauptfenster.html"
                                     << "Tarvik – Hauptfenster";
        QTest::newRow("extract") << 40 << "entpacken.html"
                                 << "Tarvik – Entpacken";
        QTest::newRow("add") << 50 << "hinzufuegen.html"
                             << "Tarvik – Dateien hinzufügen";
        QTest::newRow("unknown") << 99 << "hauptfenster.html"
                                 << "Tarvik – Hauptfenster";
    }
    void pagesForContexts() {
        QFETCH(int, context);
        QFETCH(QString, page);
        QFETCH(QString, title);
        QVERIFY(HelpAvailable());
        QCOMPARE(HelpPageForContext(context).fileName(), page);
        ShowHelp(context);
        THelpWindow* help = HelpWindowInstance();
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QCOMPARE(help->Browser()->source().fileName(), page);
        QCOMPARE(help->Browser()->documentTitle(), title);
        if (context == 50) {
            SaveScreenshot(*help, QStringLiteral("help-add"));
        }
    }

    void linksResolve() {
        for (const char* page : {"hauptfenster.html", "entpacken.html", "hinzufuegen.html"}) {
            QFile file(QStringLiteral(":/help/") + page);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(file.readAll());
            const QRegularExpression href(QStringLiteral("href=\"([^\"]+)\""));
            for (auto it = href.globalMatch(html); it.hasNext();) {
                const QString target = it.next().captured(1);
                QVERIFY2(QFile::exists(QStringLiteral(":/help/") + target),
                         qPrintable(QString::fromLatin1(page) + " -> " + target));
            }
        }
    }

    void f1OpensTheDialogsPage() {
        ResetSharedState();
        SourceFolder = QDir::tempPath();
        TfrmAdd add;
        add.CommandLineParams.clear();
        add.show();
        QVERIFY(QTest::qWaitForWindowActive(&add));
        QTest::keyClick(&add, Qt::Key_F1);
        QCOMPARE(HelpWindowInstance()->Browser()->source().fileName(),
                 QStringLiteral("hinzufuegen.html"));
        add.hide();
        TfrmExtr extr;
        extr.show();
        QVERIFY(QTest::qWaitForWindowActive(&extr));
        QTest::keyClick(&extr, Qt::Key_F1);
        QCOMPARE(HelpWindowInstance()->Browser()->source().fileName(),
                 QStringLiteral("entpacken.html"));
    }
};

QTEST_MAIN(HelpWindowTest)
#include "HelpWindowTest.moc"
