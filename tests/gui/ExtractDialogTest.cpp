// The extract dialog: what each showing proposes, the tree, and OK with an existing, a new,
// a declined and an impossible target.
#include "GuiTestSupport.h"
#include "app/Global.h"
#include "app/MessageBoxes.h"
#include "app/UniExtr.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

namespace {

// Answers the dialog's message boxes from a script and records what they said.
struct ScriptedAnswers {
    struct Shown {
        TMessageKind kind;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };
    QList<QMessageBox::StandardButton> answers;
    QList<Shown> shown;
    TMessageBoxHook previous;

    ScriptedAnswers() {
        previous =
            SetMessageBoxHook([this](TMessageKind kind, const QString& title, const QString& text,
                                     QMessageBox::StandardButtons buttons) {
                shown.append({kind, title, text, buttons});
                return answers.isEmpty() ? QMessageBox::Cancel : answers.takeFirst();
            });
    }
    ~ScriptedAnswers() { SetMessageBoxHook(previous); }
};

}  // namespace

class ExtractDialogTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QString root_;  // with a trailing "/"

private slots:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        root_ = tmp_.path() + '/';
        QVERIFY(QDir(root_).mkpath(QStringLiteral("a/.versteckt")));
        QFile file(root_ + "datei.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void init() {
        ResetSharedState();
        ExtractFolder = tmp_.path();  // without the trailing "/"
    }

    void messageTexts() {
        QCOMPARE(TfrmExtr::CreateQuestionText(QStringLiteral("/x/y")),
                 QStringLiteral("Der Ordner: /x/y\r\rist nicht vorhanden.\r\r"
                                "Soll er angelegt werden werden?          \r\r"));
        QCOMPARE(TfrmExtr::CreateErrorText(QStringLiteral("/x/y")),
                 QStringLiteral("Der Ordner: /x/y\r\rkann nicht angelegt werden. "
                                "Mögliche Gründe können sein:     \r"
                                "Der Zugriff auf das Laufwerk ist nicht möglich\r"
                                "oder der Ordnername ist nicht zulässig.\r\r"));
    }

    void showingProposesTheFolder() {
        TfrmExtr d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Zielverzeichnis"));
        QVERIFY(d.chbMitVerNam->isChecked() && d.chbUeberschr->isChecked());
        d.show();
        QCOMPARE(ExtractFolder, root_);
        QCOMPARE(d.windowTitle(), QStringLiteral("Zielverzeichnis: ") + root_);
        QCOMPARE(d.ediZielverz->text(), root_);
        QCOMPARE(d.ediZielverz->selectedText(), root_);
        QCOMPARE(d.SelectedTreePath() + '/', root_);
        QVERIFY(DialogCancelled);
        QVERIFY(d.lblOption->font().bold() && d.lblNach->font().bold());
        // The tree reads folders in the background; the root soon shows more than the path.
        const QAbstractItemModel* tree = d.ShellTreeView1->model();
        QTRY_VERIFY(tree->rowCount(tree->index(0, 0)) > 5);
        QTest::qWait(300);
        SaveScreenshot(d, QStringLiteral("extract"));
    }

    void treeSelectionFollowsFolders() {
        TfrmExtr d;
        d.show();
        // Hidden folders are in the tree; files are not.
        QVERIFY(d.SelectTreePath(root_ + "a/.versteckt"));
        QCOMPARE(ExtractFolder, root_ + "a/.versteckt/");
        QCOMPARE(d.ediZielverz->text(), root_ + "a/.versteckt/");
        QCOMPARE(d.windowTitle(), QStringLiteral("Zielverzeichnis: ") + root_ + "a/.versteckt/");
        // A node that is no folder is not taken: the selection moves back.
        d.SelectTreePath(root_ + "datei.txt");
        QCOMPARE(ExtractFolder, root_ + "a/.versteckt/");
        QCOMPARE(d.SelectedTreePath(), root_ + "a/.versteckt");
        // Typing changes neither the tree nor the caption.
        d.ediZielverz->setText(QStringLiteral("/anders"));
        QCOMPARE(d.windowTitle(), QStringLiteral("Zielverzeichnis: ") + root_ + "a/.versteckt/");
        // A folder made while the dialog was hidden is found at the next showing.
        d.hide();
        QVERIFY(QDir(root_).mkdir(QStringLiteral("neu-im-baum")));
        d.show();
        QVERIFY(d.SelectTreePath(root_ + "neu-im-baum"));
    }

    void okWithExistingFolder_data() {
        QTest::addColumn<bool>("withPaths");
        QTest::addColumn<bool>("overwrite");
        QTest::newRow("both") << true << true;
        QTest::newRow("neither") << false << false;
        QTest::newRow("paths only") << true << false;
    }
    void okWithExistingFolder() {
        QFETCH(bool, withPaths);
        QFETCH(bool, overwrite);
        ScriptedAnswers answers;
        TfrmExtr d;
        d.show();
        d.chbMitVerNam->setChecked(withPaths);
        d.chbUeberschr->setChecked(overwrite);
        // Handed over as typed: no "/" is added.
        d.ediZielverz->setText(root_ + "a");
        d.btnZielOk->click();
        QVERIFY(answers.shown.isEmpty());
        QVERIFY(!d.isVisible());
        QVERIFY(!DialogCancelled);
        QCOMPARE(ExtractTarget, root_ + "a");
        QCOMPARE(ExtractFolder, root_ + "a");
        QCOMPARE(ExtractWithPaths, withPaths);
        QCOMPARE(ExtractOverwrite, overwrite);
        // The check boxes keep their state, and the next showing adds the "/".
        d.show();
        QCOMPARE(d.chbMitVerNam->isChecked(), withPaths);
        QCOMPARE(d.ediZielverz->text(), root_ + "a/");
        QVERIFY(DialogCancelled);
    }

    // A target that does not exist: the question first, then the folder made
    // and the dialog closed, or the dialog kept open (after an error message
    // where a yes could not make the folder).
    void missingFolder_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("yes");       // the answer to the question
        QTest::addColumn<bool>("accepted");  // made, and the dialog closes
        QTest::newRow("yes makes it") << root_ + "neu/tiefer" << true << true;
        QTest::newRow("no keeps the dialog open") << root_ + "nein" << false << false;
        QTest::newRow("yes below a file") << root_ + "datei.txt/unter" << true << false;
        QTest::newRow("yes to an empty name") << QString() << true << false;
    }
    void missingFolder() {
        QFETCH(QString, target);
        QFETCH(bool, yes);
        QFETCH(bool, accepted);
        ScriptedAnswers answers;
        answers.answers = {yes ? QMessageBox::Yes : QMessageBox::No, QMessageBox::Ok};
        TfrmExtr d;
        d.show();
        d.ediZielverz->setText(target);
        d.btnZielOk->click();
        const bool failed = yes && !accepted;
        QCOMPARE(answers.shown.size(), failed ? 2 : 1);
        QCOMPARE(answers.shown[0].kind, TMessageKind::mkConfirmation);
        QCOMPARE(answers.shown[0].title, QStringLiteral("Bestätigen"));
        QCOMPARE(answers.shown[0].text, TfrmExtr::CreateQuestionText(target));
        QCOMPARE(answers.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        if (failed) {
            QCOMPARE(answers.shown[1].kind, TMessageKind::mkError);
            QCOMPARE(answers.shown[1].title, QStringLiteral("Fehler"));
            QCOMPARE(answers.shown[1].text, TfrmExtr::CreateErrorText(target));
            QCOMPARE(answers.shown[1].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(QFileInfo(target).isDir(), accepted);
        QCOMPARE(d.isVisible(), !accepted);
        QCOMPARE(DialogCancelled, !accepted);
        if (accepted) {
            QCOMPARE(ExtractTarget, target);
            return;
        }
        QCOMPARE(d.ediZielverz->text(), target);
        // Cancel still closes it, without a target.
        ExtractTarget = QStringLiteral("vorher");
        d.btnZielAbbr->click();
        QVERIFY(!d.isVisible());
        QVERIFY(DialogCancelled);
        QCOMPARE(ExtractTarget, QString());
    }

    void escapeCancels() {
        TfrmExtr d;
        d.show();
        ExtractTarget = QStringLiteral("vorher");
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(!d.isVisible());
        QCOMPARE(ExtractTarget, QString());
        QVERIFY(DialogCancelled);
    }
};

QTEST_MAIN(ExtractDialogTest)
#include "ExtractDialogTest.moc"
