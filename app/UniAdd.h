// The add-files dialog: a small file browser in which the user marks the files and folders
// to add, and the choices of how they are stored. The results stay in the window (the
// check boxes and the pack list) and in the shared state (DialogCancelled, AddPassword).
#pragma once

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
class QStatusBar;
class QToolButton;
class TFileListView;

class TfrmAdd : public QDialog {
    Q_OBJECT

public:
    explicit TfrmAdd(QWidget* parent = nullptr);
    ~TfrmAdd() override;

    // The pack list's lines: the file specifications to add, in list order.
    QStringList PackList() const;

    // Command-line parameters pre-marked on the first showing; the program's arguments
    // after its name unless set otherwise.
    QStringList CommandLineParams;

    // The window's controls, read directly by the add command and the tests.
    QComboBox* ShellComboBox1;
    QToolButton* btnVerzZur;
    QToolButton* btnSymbGross;
    QToolButton* btnSymbKlein;
    QToolButton* btnDetails;
    TFileListView* lviFiles;
    QStatusBar* stbAdd;
    QLabel* stbPanel0;
    QLabel* stbPanel1;
    QCheckBox* chbPfadSichern;
    QCheckBox* chbUnterordnerEinschliessen;
    QCheckBox* chbGesamtenPfadSichern;
    QLabel* imgSchloss;
    QCheckBox* chbPasswort;
    QLabel* lblPasswort;
    QLineEdit* ediPasswort;
    QToolButton* pngBtnSichtbar;
    QListWidget* lbPackListe;
    QPushButton* btnMarkAll;
    QPushButton* btnOk;
    QPushButton* btnAbbrechen;
    QMenu* menu;
    QAction* menuitem;

    // Handlers, public so that the main window's tests can drive the dialog.
    void setfiles();
    void OrdnerCheck();
    void btnVerzZurClick();
    void btnMarkAllClick();
    void btnOkClick();
    void btnAbbrechenClick();
    void ShellComboBox1Change();
    void lviFilesDblClick();
    void lviFilesColumnClick(int column);
    // Enter in the list: opens the one marked folder, or adds what is marked.
    void lviFilesEnter();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormActivate();
    void BuildLayout();
    void BuildKeyboard();
    void SetColumnWidths();
    void lviFilesSelectItem();
    void chbPfadSichernClick();
    void chbPasswortClick();
    void pngBtnSichtbarClick();
    void menuPopup(const QPoint& globalPos);
    void menuitemClick();
    void btnSymbGrossClick();
    void btnSymbKleinClick();
    void btnDetailsClick();
    void SelectPath(const QString& path);
    void ShowFolderInBox(const QString& folder);

    bool FirstAddShowing = true;
};
