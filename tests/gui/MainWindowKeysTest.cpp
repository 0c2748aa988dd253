// The windows driven from the keyboard alone: every command's shortcut, the
// tooltips that name them, the tab order of the toolbar, Enter on an entry,
// and the add and extract dialogs without a mouse.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

#include "GuiTestSupport.h"
#include "MainWindowTestSupport.h"
#include "app/FileListView.h"
#include "app/HelpWindow.h"
#include "app/Info.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"

class MainWindowKeysTest : public QObject {
    Q_OBJECT

private:
    TMainWindowFixture f_;

    static void showActive(QWidget& w) {
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QApplication::setActiveWindow(&w);
    }

    static constexpr const char* kCommands[] = {"tbtOeffnen", "tbtEntpacken", "tbtHinzu",
                                                "tbtLoesch",  "tbtUmwandeln", "tbtInfo",
                                                "tbtHilfe",   "tbtBeenden"};

private slots:
    void initTestCase() { f_.Install(); }
    void init() { f_.Reset(); }

    void tooltipsNameTheKeys() {
        TfrmMain w;
        const QStringList expected{"Öffnen / Neu... (Strg+O)",
                                   "Entpacken... (Strg+E)",
                                   "Hinzufügen... (Einfg, Strg+Umschalt+A)",
                                   "Löschen... (Entf)",
                                   "Umwandeln (Strg+U)",
                                   "Info (Strg+I)",
                                   "Hilfe (F1)",
                                   "Beenden (Strg+Q)"};
        for (int i = 0; i < 8; ++i) {
            QAction* a = w.Command(QLatin1String(kCommands[i]));
            QCOMPARE(a->toolTip(), expected[i]);
            auto* button = w.findChild<QToolButton*>(QLatin1String(kCommands[i]) + "Button");
            QVERIFY(button);
            QCOMPARE(button->toolTip(), expected[i]);
            // The captions stay as they are.
            QVERIFY(expected[i].startsWith(button->text() + " ("));
        }
    }

    // Every command answers its key, with the focus in the list.
    void everyShortcutRunsItsCommand() {
        const QString archive = f_.makeSortArchive(QStringLiteral("Tasten.zip"));
        TfrmMain w;
        w.OeffneArchiv(archive);
        showActive(w);
        w.ListView1()->setFocus();
        QStringList shown;  // class names of the windows the hook was handed
        f_.dialogDriver = [&shown](QDialog& d) { shown << d.metaObject()->className(); };
        struct TCase {
            QKeyCombination key;
            std::function<bool()> ran;
        };
        const TCase cases[] = {
            {Qt::CTRL | Qt::Key_O,
             [&] {
                 return !f_.chooserRequests.isEmpty() &&
                        f_.chooserRequests.back().Title == "Zip-Archiv öffnen oder erstellen";
             }},
            {Qt::CTRL | Qt::Key_E, [&] { return shown.endsWith("TfrmExtr"); }},
            {QKeyCombination(Qt::Key_Insert), [&] { return shown.endsWith("TfrmAdd"); }},
            {Qt::CTRL | Qt::SHIFT | Qt::Key_A, [&] { return shown.endsWith("TfrmAdd"); }},
            {QKeyCombination(Qt::Key_Delete),
             [&] {
                 return !f_.messages.isEmpty() &&
                        f_.messages.back().text.startsWith("Bitte markieren Sie");
             }},
            {Qt::CTRL | Qt::Key_I, [&] { return shown.endsWith("TfrmInfo"); }},
            {QKeyCombination(Qt::Key_F1),
             [&] { return HelpWindowInstance() && HelpWindowInstance()->isVisible(); }},
            {Qt::CTRL | Qt::Key_U,
             [&] {
                 return !f_.messages.isEmpty() &&
                        f_.messages.back().text.contains("selbstentpackende EXE-Datei");
             }},
        };
        for (const TCase& c : cases) {
            shown.clear();
            f_.messages.clear();
            f_.chooserRequests.clear();
            w.ListView1()->clearSelection();
            QApplication::setActiveWindow(&w);
            QTest::keyClick(w.ListView1(), c.key.key(), c.key.keyboardModifiers());
            QVERIFY2(c.ran(), qPrintable(QKeySequence(c.key).toString()));
            QVERIFY(!w.CommandRunning());
        }
        if (HelpWindowInstance()) {
            HelpWindowInstance()->hide();
        }
        // Strg+Q quits.
        QVERIFY(w.isVisible());
        QApplication::setActiveWindow(&w);
        QTest::keyClick(w.ListView1(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!w.isVisible());
    }

    // Enter opens the selected entry as a double-click does, Shift+Enter in the viewer.
    void enterViewsTheEntry() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        showActive(w);
        w.ListView1()->setFocus();
        QTest::keyClick(w.ListView1(), Qt::Key_Return);
        QVERIFY(f_.launched.isEmpty());  // nothing selected
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin")});
        QTest::keyClick(w.ListView1(), Qt::Key_Return);
        QCOMPARE(f_.launched.size(), 1);
        QCOMPARE(f_.launched.back().first, QString());
        QVERIFY(f_.launched.back().second.endsWith("/b_999.bin"));
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin")});
        QTest::keyClick(w.ListView1(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(f_.launched.size(), 2);
        f_.selectRows(w, {f_.rowOf(w, "b_999.bin")});
        QTest::keyClick(w.ListView1(), Qt::Key_Enter, Qt::ShiftModifier);
        QCOMPARE(f_.launched.size(), 3);
        QCOMPARE(f_.launched.back().first, ViewerProgram);
        // Escape still quits while nothing runs.
        QTest::keyClick(w.ListView1(), Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    // Tab walks from the list through the eight buttons in toolbar order and
    // back; Space presses the button that has the focus.
    void tabOrderThroughTheToolbar() {
        const QString archive = f_.makeSortArchive();
        TfrmMain w;
        w.OeffneArchiv(archive);
        showActive(w);
        w.ListView1()->setFocus();
        QCOMPARE(QApplication::focusWidget(), w.ListView1());
        f_.selectRows(w, {0});  // so that "Löschen..." is enabled and takes the focus
        for (const char* name : kCommands) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name) + "Button");
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.ListView1());
        // Back to "Info" and press it.
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        }
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("tbtInfoButton"));
        SaveScreenshot(w, QStringLiteral("fokus-info"));
        bool info = false;
        f_.dialogDriver = [&info](QDialog& d) { info = qobject_cast<TfrmInfo*>(&d) != nullptr; };
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(info);
    }

    // The add dialog without a mouse: Tab reaches every control, Enter opens
    // a folder, Backspace goes back up, Ctrl+A and Enter add everything.
    void addDialogByKeyboard() {
        const QString src = f_.path(QStringLiteral("tasten"));
        writeFile(src + "/unter/drin.txt", 100, at(2024, 1, 1, 9, 0));
        writeFile(src + "/a.txt", 100, at(2024, 1, 2, 9, 0));
        writeFile(src + "/b.txt", 100, at(2024, 1, 3, 9, 0));
        SourceFolder = src + "/";
        TfrmAdd d;
        showActive(d);
        QWidget* list = d.lviFiles->ActiveView();
        list->setFocus();
        // Tab from the list reaches the check boxes, the password box's
        // controls and the buttons, and comes round to the list again.
        QSet<QWidget*> reached;
        for (int i = 0; i < 20 && !reached.contains(list); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget();
        }
        // One stop per control; the three view buttons form one group (the
        // arrow keys move within it).
        for (QWidget* control :
             std::initializer_list<QWidget*>{d.ShellComboBox1, d.btnVerzZur, d.btnSymbGross,
                                             d.chbPasswort, d.btnMarkAll, d.btnAbbrechen, list}) {
            QVERIFY2(reached.contains(control), qPrintable(control->metaObject()->className()));
        }
        // Space on "Verschlüsseln" opens the password edit; Tab goes on to
        // the show-password button.
        d.chbPasswort->setFocus();
        QTest::keyClick(d.chbPasswort, Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), d.ediPasswort);
        QTest::keyClick(d.ediPasswort, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), d.pngBtnSichtbar);
        QTest::keyClick(d.pngBtnSichtbar, Qt::Key_Space);
        QCOMPARE(d.ediPasswort->echoMode(), QLineEdit::Normal);
        d.chbPasswort->setChecked(false);
        list->setFocus();
        // The folder "unter" sorts first (newest folders first by time, folders
        // before files in any case): Enter opens it, Backspace comes back.
        d.lviFiles->SelectFirst();
        QVERIFY(d.lviFiles->Item(0).isDir);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(SourceFolder, src + "/unter/");
        QCOMPARE(d.lviFiles->Count(), 1);
        QTest::keyClick(d.lviFiles->ActiveView(), Qt::Key_Backspace);
        QCOMPARE(SourceFolder, src + "/");
        // Ctrl+A marks everything, Enter adds it.
        DialogCancelled = true;
        QTest::keyClick(d.lviFiles->ActiveView(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(d.lviFiles->SelectedCount(), 3);
        QTest::keyClick(d.lviFiles->ActiveView(), Qt::Key_Return);
        QVERIFY(!DialogCancelled);
        QCOMPARE(d.PackList().size(), 3);
        QVERIFY(d.isHidden());
    }

    // The extract dialog without a mouse: type the target, Enter; Escape cancels.
    void extractDialogByKeyboard() {
        const QString target = f_.path(QStringLiteral("ziel"));
        QDir().mkpath(target);
        ExtractFolder = f_.path(QString());
        TfrmExtr d;
        showActive(d);
        QCOMPARE(QApplication::focusWidget(), d.ediZielverz);
        // Tab: the options, the buttons, then the folder tree, and back.
        QList<QWidget*> order;
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget();
        }
        QCOMPARE(order, (QList<QWidget*>{d.chbUeberschr, d.chbMitVerNam, d.btnZielOk, d.btnZielAbbr,
                                         d.ShellTreeView1, d.ediZielverz}));
        QTest::keyClick(d.chbMitVerNam, Qt::Key_Space);  // Space toggles a box
        QVERIFY(!d.chbMitVerNam->isChecked());
        d.ediZielverz->setFocus();
        d.ediZielverz->selectAll();
        QTest::keyClicks(d.ediZielverz, target);
        DialogCancelled = true;
        QTest::keyClick(d.ediZielverz, Qt::Key_Return);
        QVERIFY(!DialogCancelled);
        QCOMPARE(ExtractTarget, target);
        QVERIFY(!ExtractWithPaths);
        d.chbMitVerNam->setChecked(true);
        // Escape cancels.
        showActive(d);
        QTest::keyClick(d.ediZielverz, Qt::Key_Escape);
        QVERIFY(DialogCancelled);
        QVERIFY(d.isHidden());
    }
};

QTEST_MAIN(MainWindowKeysTest)
#include "MainWindowKeysTest.moc"
