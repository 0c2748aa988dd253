// The extract dialog: where the entries go, and whether they are unpacked with their folder
// names and may overwrite existing files. The results go to the shared state
// (DialogCancelled, ExtractTarget, ExtractWithPaths, ExtractOverwrite, ExtractFolder).
#pragma once

#include <QDialog>

class QCheckBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

class TfrmExtr : public QDialog {
    Q_OBJECT

public:
    explicit TfrmExtr(QWidget* parent = nullptr);
    ~TfrmExtr() override;

    // The two questions of the OK button, composed exactly as shown.
    static QString CreateQuestionText(const QString& folder);
    static QString CreateErrorText(const QString& folder);

    // Reads the folder tree afresh, so folders made since the last showing appear.
    void RefreshTree();
    // The folder the tree has selected; empty when none.
    QString SelectedTreePath() const;
    // Selects a folder in the tree; false when the tree has no such folder.
    bool SelectTreePath(const QString& path);

    QTreeView* ShellTreeView1;
    QLabel* lblOption;
    QCheckBox* chbMitVerNam;
    QCheckBox* chbUeberschr;
    QLabel* lblNach;
    QLineEdit* ediZielverz;
    QPushButton* btnZielOk;
    QPushButton* btnZielAbbr;

    void btnZielOkClick();
    void btnZielAbbrClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormActivate();
    void ShellTreeView1Change();
    void BuildLayout();

    QFileSystemModel* model_ = nullptr;
    bool followSelection_ = false;  // scroll to the selection as the tree fills in
};
