// The add dialog: listing, sort rules, check-box coupling, captions, password, pack list,
// "Ordner zurück", pre-marked files, and the size and time texts.
#include "GuiTestSupport.h"
#include "app/FileListView.h"
#include "app/Global.h"
#include "app/UniAdd.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

namespace {

void MakeFile(const QString& path, qint64 size, const QDateTime& modified) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(size));
    f.close();
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

QStringList Names(const TFileListView& list) {
    QStringList names;
    for (int row = 0; row < list.Count(); ++row) {
        names << list.Item(row).displayName;
    }
    return names;
}

int RowOf(const TFileListView& list, const QString& name) {
    for (int row = 0; row < list.Count(); ++row) {
        if (list.Item(row).displayName == name) {
            return row;
        }
    }
    return -1;
}

struct CheckState {
    bool pfad, pfadEnabled, unter, unterEnabled, gesamt, gesamtEnabled;
    bool operator==(const CheckState&) const = default;
};

CheckState StateOf(const TfrmAdd& d) {
    return {d.chbPfadSichern->isChecked(),
            d.chbPfadSichern->isEnabled(),
            d.chbUnterordnerEinschliessen->isChecked(),
            d.chbUnterordnerEinschliessen->isEnabled(),
            d.chbGesamtenPfadSichern->isChecked(),
            d.chbGesamtenPfadSichern->isEnabled()};
}

}  // namespace

class AddDialogTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QString root_;  // the test folder with a trailing "/"
    QDateTime base_ = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));

    void select(TfrmAdd& d, const QStringList& names) {
        d.lviFiles->ClearSelection();
        for (const QString& n : names) {
            const int row = RowOf(*d.lviFiles, n);
            QVERIFY2(row >= 0, qPrintable(n));
            d.lviFiles->Select(row);
        }
        d.OrdnerCheck();
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(tmp_.isValid());
        root_ = tmp_.path() + '/';
        QDir dir(root_);
        QVERIFY(dir.mkpath(QStringLiteral("a/b")));
        QVERIFY(dir.mkpath(QStringLiteral("empty")));
        MakeFile(root_ + "a/inner.txt", 10, base_);
        MakeFile(root_ + ".hidden", 5, base_.addDays(-3));
        MakeFile(root_ + "small.txt", 100, base_.addDays(-1));
        MakeFile(root_ + "nine.bin", 9 * 1024, base_.addDays(2));
        MakeFile(root_ + "ten.bin", 10 * 1024, base_.addDays(-2));
        MakeFile(root_ + "twelve.bin", 12 * 1024, base_.addDays(1));
    }

    void init() {
        ResetSharedState();
        SourceFolder = root_;
    }

    void sizeAndTimeTexts() {
        QCOMPARE(SizeColumnText(0), QStringLiteral("0 KB"));
        QCOMPARE(SizeColumnText(1), QStringLiteral("1 KB"));
        QCOMPARE(SizeColumnText(2047), QStringLiteral("1 KB"));
        QCOMPARE(SizeColumnText(1234567), QStringLiteral("1.205 KB"));
        // Sizes past 32 bits are shown as they are.
        QCOMPARE(SizeColumnText(5LL << 30), QStringLiteral("5.242.880 KB"));
        QCOMPARE(TotalSizeText(-1), QString());
        QCOMPARE(TotalSizeText(0), QStringLiteral("0 Byte"));
        QCOMPARE(TotalSizeText(1023), QStringLiteral("1023 Byte"));
        QCOMPARE(TotalSizeText(1024), QStringLiteral("1 KByte"));
        QCOMPARE(TotalSizeText(1536), QStringLiteral("1,5 KByte"));
        QCOMPARE(TotalSizeText(1048576), QStringLiteral("1 MByte"));
        QCOMPARE(TotalSizeText(5LL << 30), QStringLiteral("5.120 MByte"));
        QCOMPARE(ModifiedText(base_), QStringLiteral("05.03.2024  14:07"));
    }

    void listsTheFolder() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        QCOMPARE(d.windowTitle(), root_);
        QCOMPARE(d.lviFiles->Count(), 7);
        QCOMPARE(d.stbPanel0->text(), QStringLiteral("7 Objekt(e)"));
        // 5 + 100 + 9216 + 10240 + 12288 bytes of files; the folders' contents do not count.
        QCOMPARE(d.stbPanel1->text(), QStringLiteral(" 31,1 KByte"));
        const TFileItem& hidden = d.lviFiles->Item(RowOf(*d.lviFiles, ".hidden"));
        QCOMPARE(hidden.fullPath, root_ + ".hidden");
        QCOMPARE(hidden.sizeText, QStringLiteral("1 KB"));
        QVERIFY(!hidden.isDir);
        const TFileItem& a = d.lviFiles->Item(RowOf(*d.lviFiles, "a"));
        QVERIFY(a.isDir);
        QCOMPARE(a.sizeText, QString());
        QCOMPARE(a.fullPath, root_ + "a");
        QCOMPARE(d.lviFiles->Item(RowOf(*d.lviFiles, "small.txt")).modifiedText,
                 QStringLiteral("04.03.2024  14:07"));
        SaveScreenshot(d, QStringLiteral("add-details"));
        d.btnSymbGross->click();
        QCOMPARE(d.lviFiles->ViewStyle(), TViewStyle::vsIcon);
        SaveScreenshot(d, QStringLiteral("add-icons"));
        d.btnSymbKlein->click();
        QCOMPARE(d.lviFiles->ViewStyle(), TViewStyle::vsList);
        SaveScreenshot(d, QStringLiteral("add-list"));
        d.btnDetails->click();
        QCOMPARE(d.lviFiles->ViewStyle(), TViewStyle::vsReport);
    }

    void sortRules_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("expected");
        // Folders always first; by size the longer text goes after, so 9 KB before 10 KB.
        QTest::newRow("size") << 1
                              << QStringList{".hidden", "small.txt", "nine.bin", "ten.bin",
                                             "twelve.bin"};
        // Newest first.
        QTest::newRow("modified") << 3
                                  << QStringList{"nine.bin", "twelve.bin", "small.txt", "ten.bin",
                                                 ".hidden"};
    }
    void sortRules() {
        QFETCH(int, column);
        QFETCH(QStringList, expected);
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        d.lviFilesColumnClick(column);
        QCOMPARE(FileSortColumn, column);
        const QStringList names = Names(*d.lviFiles);
        QStringList folders = names.mid(0, 2);
        folders.sort();
        QCOMPARE(folders, (QStringList{"a", "empty"}));
        QCOMPARE(names.mid(2), expected);
        // A second click sorts the same way again.
        d.lviFilesColumnClick(column);
        QCOMPARE(Names(*d.lviFiles), names);
    }

    void compareRules() {
        TFileItem folder{"z", {}, "Ordner", {}, base_, true, "/x/z", {}};
        TFileItem nine{"b", "9 KB", "Binär", {}, base_, false, "/x/b", {}};
        TFileItem ten{"a", "10 KB", "Binär", {}, base_, false, "/x/a", {}};
        TFileItem twelve{"c", "12 KB", "Binär", {}, base_.addSecs(60), false, "/x/c", {}};
        for (int column = 0; column <= 3; ++column) {
            QVERIFY(CompareFileItems(folder, nine, column) < 0);
            QVERIFY(CompareFileItems(nine, folder, column) > 0);
        }
        QVERIFY(CompareFileItems(ten, nine, 1) > 0);     // longer text after
        QVERIFY(CompareFileItems(ten, twelve, 1) < 0);   // same length: as text
        QVERIFY(CompareFileItems(twelve, nine, 3) < 0);  // newer first
        QCOMPARE(CompareFileItems(nine, ten, 3), 0);     // same time
        QCOMPARE(CompareFileItems(folder, nine, 4), 0);  // unknown column
    }

    void couplingRules() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        const CheckState start{false, true, false, false, false, false};
        QCOMPARE(StateOf(d), start);
        const CheckState folderState{true, true, true, true, false, true};
        const CheckState filesOnly{false, false, false, false, false, false};
        select(d, {"a"});
        QCOMPARE(StateOf(d), folderState);
        select(d, {"small.txt", "nine.bin"});
        QCOMPARE(StateOf(d), filesOnly);
        select(d, {"small.txt", "empty"});
        QCOMPARE(StateOf(d), folderState);
        // "Den gesamten Pfad sichern" is the user's own choice once enabled.
        d.chbGesamtenPfadSichern->setChecked(true);
        // With "Pfad sichern" still checked, another check changes nothing.
        d.chbUnterordnerEinschliessen->setChecked(false);
        d.OrdnerCheck();
        QCOMPARE(StateOf(d), (CheckState{true, true, false, true, true, true}));
        // Unchecking "Pfad sichern" takes the other two with it; the next check restores it.
        d.chbPfadSichern->setChecked(false);
        QCOMPARE(StateOf(d), (CheckState{false, true, false, false, false, false}));
        d.OrdnerCheck();
        QCOMPARE(StateOf(d), folderState);
        // "Alle Dateien markieren" selects files and folders alike.
        d.btnMarkAll->click();
        QCOMPARE(d.lviFiles->SelectedCount(), 7);
        QCOMPARE(StateOf(d), folderState);
    }

    void mouseAndKeysRunTheFolderCheck() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTreeView* report = d.lviFiles->Report();
        const QRect folderRow =
            report->visualRect(report->model()->index(RowOf(*d.lviFiles, "a"), 0));
        QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, folderRow.center());
        QCOMPARE(d.lviFiles->SelectedCount(), 1);
        QVERIFY(d.chbPfadSichern->isChecked());
        // Moving down with the keyboard onto a file unchecks it again.
        report->setFocus();
        QTest::keyClick(report, Qt::Key_End);
        QCOMPARE(d.lviFiles->Item(d.lviFiles->SelectedRows().front()).isDir, false);
        QVERIFY(!d.chbPfadSichern->isChecked());
        QVERIFY(!d.chbPfadSichern->isEnabled());
    }

    void propertiesMenuNeedsASelection() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        emit d.lviFiles->ContextMenuRequested(d.mapToGlobal(QPoint(50, 50)));
        QVERIFY(!d.menuitem->isEnabled());
        QCOMPARE(d.menuitem->text(), QStringLiteral("Eigenschaften"));
        d.menu->hide();
        select(d, {"small.txt"});
        emit d.lviFiles->ContextMenuRequested(d.mapToGlobal(QPoint(50, 50)));
        QVERIFY(d.menuitem->isEnabled());
        d.menu->hide();
    }

    void okCaptions() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        QCOMPARE(d.btnOk->text(), QStringLiteral("Hinzufügen"));
        QVERIFY(!d.btnOk->isEnabled());
        select(d, {"small.txt"});
        QCOMPARE(d.btnOk->text(), QStringLiteral("Datei hinzufügen"));
        QVERIFY(d.btnOk->isEnabled());
        select(d, {"small.txt", "a"});
        QCOMPARE(d.btnOk->text(), QStringLiteral("Dateien hinzufügen"));
        d.lviFiles->ClearSelection();
        QCOMPARE(d.btnOk->text(), QStringLiteral("Hinzufügen"));
        QVERIFY(!d.btnOk->isEnabled());
    }

    void packListAndPassword_data() {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("password");
        QTest::newRow("no encryption") << false << "geheim"
                                       << "";
        QTest::newRow("encrypted") << true << "geheim"
                                   << "geheim";
        QTest::newRow("encrypted but empty") << true << ""
                                             << "";
    }
    void packListAndPassword() {
        QFETCH(bool, encrypt);
        QFETCH(QString, typed);
        QFETCH(QString, password);
        FileSortColumn = 0;
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        d.chbPasswort->setChecked(true);
        d.ediPasswort->setText(typed);
        d.chbPasswort->setChecked(encrypt);
        DialogCancelled = true;
        select(d, {"small.txt", "empty", "a"});
        d.btnOk->click();
        QVERIFY(!d.isVisible());
        QVERIFY(!DialogCancelled);
        QCOMPARE(AddPassword, password);
        // Folders first, in list order; the empty folder adds nothing.
        QCOMPARE(d.PackList(), (QStringList{root_ + "a/", root_ + "small.txt"}));
    }

    void passwordMask() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        QVERIFY(!d.ediPasswort->isEnabled());
        QVERIFY(!d.lblPasswort->isEnabled());
        QVERIFY(!d.pngBtnSichtbar->isEnabled());
        d.chbPasswort->click();
        QVERIFY(d.ediPasswort->isEnabled() && d.pngBtnSichtbar->isEnabled());
        QCOMPARE(d.ediPasswort->maxLength(), 80);
        QTest::keyClicks(d.ediPasswort, QStringLiteral("abc"));
        d.ediPasswort->insert(QStringLiteral("dé"));  // as pasting does
        QCOMPARE(d.ediPasswort->text(), QStringLiteral("abcdé"));
        QCOMPARE(d.ediPasswort->displayText(), QStringLiteral("+++++"));
        QTest::keyClick(d.ediPasswort, Qt::Key_Backspace);
        QCOMPARE(d.ediPasswort->displayText(), QStringLiteral("++++"));
        SaveScreenshot(d, QStringLiteral("add-password"));
        d.pngBtnSichtbar->click();
        QCOMPARE(d.ediPasswort->displayText(), QStringLiteral("abcd"));
        QCOMPARE(d.ediPasswort->cursorPosition(), 4);
        d.pngBtnSichtbar->click();
        QCOMPARE(d.ediPasswort->displayText(), QStringLiteral("++++"));
        // A new showing starts without encryption, but keeps the storing choices.
        select(d, {"a"});
        d.hide();
        d.show();
        QVERIFY(!d.chbPasswort->isChecked());
        QCOMPARE(d.ediPasswort->text(), QString());
        QVERIFY(!d.ediPasswort->isEnabled());
        QVERIFY(d.chbPfadSichern->isChecked() && d.chbUnterordnerEinschliessen->isChecked());
    }

    void folderUp() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        SourceFolder = root_ + "a/b/";
        d.show();
        d.btnVerzZurClick();
        QCOMPARE(SourceFolder, root_ + "a/");
        QCOMPARE(d.lviFiles->Count(), 2);
        QCOMPARE(d.lviFiles->SelectedRows(), std::vector<int>{0});
        d.btnVerzZurClick();
        QCOMPARE(SourceFolder, root_);
        SourceFolder = QStringLiteral("/");
        d.setfiles();
        d.btnVerzZurClick();
        QCOMPARE(SourceFolder, QStringLiteral("/"));
        QCOMPARE(d.windowTitle(), QStringLiteral("/"));
    }

    void doubleClickOpensFolder() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        d.show();
        select(d, {"a"});
        d.lviFilesDblClick();
        QCOMPARE(SourceFolder, root_ + "a/");
        QCOMPARE(Names(*d.lviFiles), (QStringList{"b", "inner.txt"}));
        // The folder box follows the listing, and a typed folder is listed.
        QCOMPARE(d.ShellComboBox1->currentText(), root_ + "a/");
        d.ShellComboBox1->setEditText(root_ + "a/b");
        d.ShellComboBox1Change();
        QCOMPARE(SourceFolder, root_ + "a/b/");
        // A path that is no folder is put back.
        d.ShellComboBox1->setEditText(root_ + "small.txt");
        d.ShellComboBox1Change();
        QCOMPARE(SourceFolder, root_ + "a/b/");
        QCOMPARE(d.ShellComboBox1->currentText(), root_ + "a/b/");
    }

    void droppedAndCommandLineFiles() {
        TfrmAdd d;
        d.CommandLineParams = {root_ + "nine.bin", root_ + "a"};
        DroppedFiles = {root_ + "small.txt", QStringLiteral("/elsewhere/x.txt"),
                        root_ + "SMALL.TXT"};
        d.show();
        QVERIFY(DroppedFiles.isEmpty());
        QStringList selected;
        for (int row : d.lviFiles->SelectedRows()) {
            selected << d.lviFiles->Item(row).displayName;
        }
        selected.sort();
        QCOMPARE(selected, (QStringList{"a", "nine.bin", "small.txt"}));
        QVERIFY(d.chbPfadSichern->isChecked());
        // The command line counts only once.
        d.hide();
        d.show();
        QCOMPARE(d.lviFiles->SelectedCount(), 0);
    }

    void commandLineIgnoredForArchive() {
        ParamIsArchive = true;
        TfrmAdd d;
        d.CommandLineParams = {root_ + "nine.bin"};
        d.show();
        QCOMPARE(d.lviFiles->SelectedCount(), 0);
    }

    void cancel() {
        TfrmAdd d;
        d.CommandLineParams.clear();
        DialogCancelled = false;
        d.show();
        d.btnAbbrechen->click();
        QVERIFY(DialogCancelled);
        QVERIFY(!d.isVisible());
    }
};

QTEST_MAIN(AddDialogTest)
#include "AddDialogTest.moc"
