#include "UniAdd.h"

#include "FileListView.h"
#include "Global.h"
#include "HelpWindow.h"
#include "ImageLists.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kHelpContext = 50;
constexpr int kPasswordLength = 80;
const QColor kCream(255, 251, 240);

// Masks password edits with "+" instead of the style's own character. The edit stays a
// normal password edit, so typing, deleting and pasting work as usual.
class TPlusMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) {
            return '+';
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle* PlusMaskStyle() {
    // Owned by the application, so it outlives every edit that uses it.
    static QPointer<TPlusMaskStyle> style;
    if (!style) {
        style = new TPlusMaskStyle;
        style->setParent(qApp);
    }
    return style;
}

QToolButton* MakeToolButton(QWidget* parent, TDialogImage image, const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setToolTip(hint);
    button->setFixedSize(ScaleForDpi(26), ScaleForDpi(26));
    const int px = DialogImageSize(ScreenDpi());
    button->setIcon(QIcon(DialogPixmap(image, ScreenDpi(), ScreenPixelRatio())));
    button->setIconSize({px, px});
    return button;
}

}  // namespace

TfrmAdd::TfrmAdd(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAdd"));
    CommandLineParams = QCoreApplication::arguments().mid(1);
    FormCreate();
}

TfrmAdd::~TfrmAdd() = default;

void TfrmAdd::BuildLayout() {
    // Left: the folder box, the view buttons, the file list and the status bar.
    auto* left = new QWidget(this);
    left->setFixedWidth(ScaleForDpi(500));
    ShellComboBox1 = new QComboBox(left);
    ShellComboBox1->setEditable(true);
    ShellComboBox1->setMaxVisibleItems(12);
    ShellComboBox1->setInsertPolicy(QComboBox::NoInsert);
    btnVerzZur = MakeToolButton(left, diOrdnerZurueck, QStringLiteral("Ordner zurück"));
    btnSymbGross = MakeToolButton(left, diSymbole, QStringLiteral("Symbole"));
    btnSymbKlein = MakeToolButton(left, diListe, QStringLiteral("Liste"));
    btnDetails = MakeToolButton(left, diDetails, QStringLiteral("Details"));
    for (QToolButton* b : {btnSymbGross, btnSymbKlein, btnDetails}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
    }
    btnDetails->setChecked(true);
    lviFiles = new TFileListView(left);
    stbAdd = new QStatusBar(left);
    stbAdd->setSizeGripEnabled(false);
    stbAdd->setFixedHeight(ScaleForDpi(19));
    stbPanel0 = new QLabel(QStringLiteral("Objekt(e)"), stbAdd);
    stbPanel0->setAlignment(Qt::AlignCenter);
    stbPanel0->setFixedWidth(100);
    stbPanel1 = new QLabel(QStringLiteral("Bytes"), stbAdd);
    stbPanel1->setMinimumWidth(50);
    stbAdd->addWidget(stbPanel0);
    stbAdd->addWidget(stbPanel1, 1);

    auto* top = new QHBoxLayout;
    top->setSpacing(2);
    top->addWidget(ShellComboBox1, 1);
    top->addSpacing(4);
    for (QToolButton* b : {btnVerzZur, btnSymbGross, btnSymbKlein, btnDetails}) {
        top->addWidget(b);
    }
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(4, 4, 2, 0);
    leftLayout->setSpacing(4);
    leftLayout->addLayout(top);
    leftLayout->addWidget(lviFiles, 1);
    leftLayout->addWidget(stbAdd);

    // Right: the storing choices, encryption, and the buttons, on cream.
    auto* right = new QFrame(this);
    right->setObjectName(QStringLiteral("panRechts"));
    right->setFixedWidth(ScaleForDpi(230));
    QPalette pal = right->palette();
    pal.setColor(QPalette::Window, kCream);
    right->setPalette(pal);
    right->setAutoFillBackground(true);
    chbPfadSichern = new QCheckBox(QStringLiteral("Pfad sichern"), right);
    chbUnterordnerEinschliessen = new QCheckBox(QStringLiteral("Unterordner einschließen"), right);
    chbGesamtenPfadSichern = new QCheckBox(QStringLiteral("Den gesamten Pfad sichern"), right);
    chbUnterordnerEinschliessen->setEnabled(false);
    chbGesamtenPfadSichern->setEnabled(false);
    auto* line = new QFrame(right);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    imgSchloss = new QLabel(right);
    imgSchloss->setPixmap(DialogPixmap(diSchloss, ScreenDpi(), ScreenPixelRatio()));
    chbPasswort = new QCheckBox(QStringLiteral("Verschlüsseln"), right);
    lblPasswort = new QLabel(QStringLiteral("Passwort"), right);
    ediPasswort = new QLineEdit(right);
    ediPasswort->setStyle(PlusMaskStyle());
    ediPasswort->setEchoMode(QLineEdit::Password);
    ediPasswort->setMaxLength(kPasswordLength);
    lblPasswort->setBuddy(ediPasswort);
    pngBtnSichtbar = MakeToolButton(right, diSichtbar, QStringLiteral("Passwort zeigen"));
    pngBtnSichtbar->setAutoRaise(false);
    lbPackListe = new QListWidget(right);
    lbPackListe->setVisible(false);
    btnMarkAll = new QPushButton(QStringLiteral("Alle Dateien markieren"), right);
    btnOk = new QPushButton(QStringLiteral("Hinzufügen"), right);
    btnOk->setDefault(true);
    btnOk->setEnabled(false);
    btnAbbrechen = new QPushButton(QStringLiteral("Abbrechen"), right);

    auto* lock = new QHBoxLayout;
    lock->addWidget(imgSchloss);
    lock->addWidget(chbPasswort, 1);
    auto* password = new QHBoxLayout;
    password->addWidget(ediPasswort, 1);
    password->addWidget(pngBtnSichtbar);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(14, 14, 14, 14);
    rightLayout->addWidget(chbPfadSichern);
    rightLayout->addWidget(chbUnterordnerEinschliessen);
    rightLayout->addWidget(chbGesamtenPfadSichern);
    rightLayout->addSpacing(6);
    rightLayout->addWidget(line);
    rightLayout->addSpacing(6);
    rightLayout->addLayout(lock);
    rightLayout->addWidget(lblPasswort);
    rightLayout->addLayout(password);
    rightLayout->addStretch(1);
    rightLayout->addWidget(lbPackListe);
    rightLayout->addWidget(btnMarkAll);
    rightLayout->addSpacing(10);
    rightLayout->addWidget(btnOk);
    rightLayout->addWidget(btnAbbrechen);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(left);
    layout->addWidget(right);

    menu = new QMenu(this);
    menuitem = menu->addAction(QStringLiteral("Eigenschaften"));
}

void TfrmAdd::FormCreate() {
    setFont(QApplication::font("QMenu"));
    BuildLayout();
    setFixedSize(ScaleForDpi(730), ScaleForDpi(450));
    chbPasswortClick();
    FirstAddShowing = true;

    connect(btnVerzZur, &QToolButton::clicked, this, &TfrmAdd::btnVerzZurClick);
    connect(btnSymbGross, &QToolButton::clicked, this, &TfrmAdd::btnSymbGrossClick);
    connect(btnSymbKlein, &QToolButton::clicked, this, &TfrmAdd::btnSymbKleinClick);
    connect(btnDetails, &QToolButton::clicked, this, &TfrmAdd::btnDetailsClick);
    connect(ShellComboBox1, &QComboBox::activated, this, [this] { ShellComboBox1Change(); });
    connect(ShellComboBox1->lineEdit(), &QLineEdit::returnPressed, this,
            &TfrmAdd::ShellComboBox1Change);
    connect(lviFiles, &TFileListView::SelectionChanged, this, &TfrmAdd::lviFilesSelectItem);
    connect(lviFiles, &TFileListView::Clicked, this, &TfrmAdd::OrdnerCheck);
    connect(lviFiles, &TFileListView::KeyReleased, this, &TfrmAdd::OrdnerCheck);
    connect(lviFiles, &TFileListView::DoubleClicked, this, &TfrmAdd::lviFilesDblClick);
    connect(lviFiles, &TFileListView::ColumnClicked, this, &TfrmAdd::lviFilesColumnClick);
    connect(lviFiles, &TFileListView::ContextMenuRequested, this, &TfrmAdd::menuPopup);
    connect(chbPfadSichern, &QCheckBox::toggled, this, &TfrmAdd::chbPfadSichernClick);
    connect(chbPasswort, &QCheckBox::toggled, this, &TfrmAdd::chbPasswortClick);
    connect(pngBtnSichtbar, &QToolButton::clicked, this, &TfrmAdd::pngBtnSichtbarClick);
    connect(menuitem, &QAction::triggered, this, &TfrmAdd::menuitemClick);
    connect(btnMarkAll, &QPushButton::clicked, this, &TfrmAdd::btnMarkAllClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmAdd::btnOkClick);
    connect(btnAbbrechen, &QPushButton::clicked, this, &TfrmAdd::btnAbbrechenClick);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { ShowHelp(kHelpContext); });
    BuildKeyboard();
}

void TfrmAdd::BuildKeyboard() {
    // Enter in the list opens a folder, or adds the marked files; Backspace in
    // the list and Alt+Up anywhere go one folder up.
    for (Qt::Key enter : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* open = new QShortcut(QKeySequence(enter), lviFiles);
        open->setContext(Qt::WidgetWithChildrenShortcut);
        connect(open, &QShortcut::activated, this, &TfrmAdd::lviFilesEnter);
    }
    auto* back = new QShortcut(QKeySequence(Qt::Key_Backspace), lviFiles);
    back->setContext(Qt::WidgetWithChildrenShortcut);
    connect(back, &QShortcut::activated, this, &TfrmAdd::btnVerzZurClick);
    auto* up = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Up), this);
    connect(up, &QShortcut::activated, this, &TfrmAdd::btnVerzZurClick);
    for (QToolButton* b : {btnVerzZur, btnSymbGross, btnSymbKlein, btnDetails, pngBtnSichtbar}) {
        b->setFocusPolicy(Qt::TabFocus);
    }
}

void TfrmAdd::lviFilesEnter() {
    const std::vector<int> rows = lviFiles->SelectedRows();
    if (rows.empty()) {
        return;
    }
    const TFileItem item = lviFiles->Item(rows.front());
    if (item.isDir && rows.size() == 1) {
        SourceFolder = item.fullPath;
        setfiles();
        lviFiles->ActiveView()->setFocus();
        lviFiles->SelectFirst();
        OrdnerCheck();
    } else if (btnOk->isEnabled()) {
        btnOk->click();
    }
}

void TfrmAdd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TfrmAdd::SetColumnWidths() {
    // The time column must hold a whole time text in this font; the name column takes what
    // the other three leave of the list's width.
    const QFontMetrics metrics = lviFiles->Report()->fontMetrics();
    const int time = std::max(ScaleForDpi(110),
                              metrics.horizontalAdvance(QStringLiteral("00.00.0000  00:00")) + 16);
    const int size = ScaleForDpi(70);
    const int type = ScaleForDpi(120);
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int client = lviFiles->Report()->viewport()->width();
    lviFiles->SetColumnWidths(std::max(client - size - type - time - scrollBar, ScaleForDpi(100)),
                              size, type, time);
}

void TfrmAdd::FormActivate() {
    if (FirstAddShowing) {
        SetColumnWidths();
    }
    // Encryption is chosen anew for every add.
    chbPasswort->setChecked(false);
    ediPasswort->clear();
    ediPasswort->setEchoMode(QLineEdit::Password);
    setfiles();
    if (!DroppedFiles.isEmpty()) {
        for (const QString& name : DroppedFiles) {
            SelectPath(name);
        }
        DroppedFiles.clear();
        OrdnerCheck();
    }
    if (FirstAddShowing) {
        FirstAddShowing = false;
        if (!ParamIsArchive) {
            for (const QString& param : CommandLineParams) {
                // A bare or relative name on the command line means the file in the
                // current folder, as the main window took it.
                SelectPath(QFileInfo(param).absoluteFilePath());
                OrdnerCheck();
            }
        }
    }
}

void TfrmAdd::SelectPath(const QString& path) {
    for (int row : lviFiles->RowsWithPath(path)) {
        lviFiles->Select(row);
    }
}

void TfrmAdd::setfiles() {
    setWindowTitle(SourceFolder);
    btnVerzZur->setEnabled(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    lviFiles->setUpdatesEnabled(false);
    if (SourceFolder.isEmpty()) {
        SourceFolder = QDir::currentPath();
    }
    SourceFolder = IncludeTrailingSlash(SourceFolder);
    int64_t total = 0;
    lviFiles->SetItems(ListFolder(SourceFolder, total));
    lviFiles->Sort(FileSortColumn);
    lviFiles->setUpdatesEnabled(true);

    stbPanel0->setText(QString::number(lviFiles->Count()) + QStringLiteral(" Objekt(e)"));
    stbPanel0->setFixedWidth(stbPanel0->fontMetrics().horizontalAdvance(stbPanel0->text()) + 30);
    stbPanel1->setText(QStringLiteral(" ") + TotalSizeText(total));
    QApplication::restoreOverrideCursor();

    if (QFileInfo(SourceFolder).isDir() && ShellComboBox1->currentText() != SourceFolder) {
        ShowFolderInBox(SourceFolder);
    }
    lviFilesSelectItem();
}

void TfrmAdd::ShowFolderInBox(const QString& folder) {
    // Shows the folder and the folders above it, plus the home folder, without setting off
    // another listing.
    const QSignalBlocker block(ShellComboBox1);
    static const QFileIconProvider icons;
    ShellComboBox1->clear();
    QStringList chain;
    for (QString f = folder; !f.isEmpty();) {
        chain.prepend(f);
        if (f == QStringLiteral("/")) {
            break;
        }
        f.chop(1);
        f = f.left(f.lastIndexOf('/') + 1);
    }
    const QIcon folderIcon = icons.icon(QFileIconProvider::Folder);
    for (const QString& f : chain) {
        ShellComboBox1->addItem(folderIcon, f);
    }
    const QString home = IncludeTrailingSlash(QDir::homePath());
    if (!chain.contains(home)) {
        ShellComboBox1->insertSeparator(ShellComboBox1->count());
        ShellComboBox1->addItem(icons.icon(QFileIconProvider::Folder), home);
    }
    ShellComboBox1->setCurrentIndex(static_cast<int>(chain.size()) - 1);
    ShellComboBox1->setEditText(folder);
}

void TfrmAdd::ShellComboBox1Change() {
    const QString text = ShellComboBox1->currentText().trimmed();
    const QFileInfo info(text);
    if (!text.isEmpty() && info.isDir()) {
        const QString folder = IncludeTrailingSlash(info.absoluteFilePath());
        if (folder != SourceFolder) {
            SourceFolder = folder;
            setfiles();
            lviFiles->ActiveView()->setFocus();
            lviFiles->SelectFirst();
        }
        return;
    }
    ShowFolderInBox(SourceFolder);
    lviFiles->ActiveView()->setFocus();
}

void TfrmAdd::OrdnerCheck() {
    if (lviFiles->Count() == 0) {
        return;
    }
    bool folder = false;
    for (int row : lviFiles->SelectedRows()) {
        folder = folder || lviFiles->Item(row).isDir;
    }
    chbPfadSichern->setEnabled(folder);
    chbPfadSichern->setChecked(folder);
}

void TfrmAdd::chbPfadSichernClick() {
    const bool on = chbPfadSichern->isChecked();
    chbUnterordnerEinschliessen->setEnabled(on);
    chbUnterordnerEinschliessen->setChecked(on);
    chbGesamtenPfadSichern->setEnabled(on);
    chbGesamtenPfadSichern->setChecked(false);
}

void TfrmAdd::lviFilesSelectItem() {
    const int selected = lviFiles->SelectedCount();
    btnOk->setText(QStringLiteral("Hinzufügen"));
    btnOk->setEnabled(selected > 0);
    if (selected == 1) {
        btnOk->setText(QStringLiteral("Datei hinzufügen"));
    } else if (selected > 1) {
        btnOk->setText(QStringLiteral("Dateien hinzufügen"));
    }
}

void TfrmAdd::lviFilesDblClick() {
    const std::vector<int> rows = lviFiles->SelectedRows();
    if (rows.empty()) {
        return;
    }
    const TFileItem item = lviFiles->Item(rows.front());
    if (item.isDir) {
        SourceFolder = item.fullPath;
        setfiles();
    } else {
        ShowFileProperties(item.fullPath);
    }
    OrdnerCheck();
}

void TfrmAdd::lviFilesColumnClick(int column) {
    FileSortColumn = column;
    lviFiles->Sort(column);
}

void TfrmAdd::btnVerzZurClick() {
    // The root has no parent: stay there.
    if (SourceFolder.size() <= 1) {
        return;
    }
    QString folder = SourceFolder;
    do {
        folder.chop(1);
    } while (!folder.isEmpty() && !folder.endsWith('/'));
    if (folder.isEmpty()) {
        return;
    }
    SourceFolder = folder;
    setfiles();
    lviFiles->ActiveView()->setFocus();
    lviFiles->SelectFirst();
}

void TfrmAdd::btnSymbGrossClick() {
    lviFiles->SetViewStyle(TViewStyle::vsIcon);
}

void TfrmAdd::btnSymbKleinClick() {
    lviFiles->SetViewStyle(TViewStyle::vsList);
}

void TfrmAdd::btnDetailsClick() {
    lviFiles->SetViewStyle(TViewStyle::vsReport);
}

void TfrmAdd::btnMarkAllClick() {
    lviFiles->SelectAll();
    lviFiles->ActiveView()->setFocus();
    OrdnerCheck();
}

void TfrmAdd::chbPasswortClick() {
    const bool on = chbPasswort->isChecked();
    lblPasswort->setEnabled(on);
    ediPasswort->setEnabled(on);
    pngBtnSichtbar->setEnabled(on);
    if (on) {
        ediPasswort->setFocus();
    }
}

void TfrmAdd::pngBtnSichtbarClick() {
    ediPasswort->setEchoMode(ediPasswort->echoMode() == QLineEdit::Password ? QLineEdit::Normal
                                                                            : QLineEdit::Password);
    ediPasswort->setFocus();
    ediPasswort->end(false);
}

void TfrmAdd::btnOkClick() {
    AddPassword = chbPasswort->isChecked() ? ediPasswort->text() : QString();
    lbPackListe->clear();
    for (int row : lviFiles->SelectedRows()) {
        const TFileItem& item = lviFiles->Item(row);
        if (!item.isDir) {
            lbPackListe->addItem(item.fullPath);
        } else if (!IsFolderEmpty(item.fullPath)) {
            // The folder itself: the window adds the picked paths literally.
            lbPackListe->addItem(IncludeTrailingSlash(item.fullPath));
        }
    }
    DialogCancelled = false;
    accept();
}

void TfrmAdd::btnAbbrechenClick() {
    DialogCancelled = true;
    reject();
}

QStringList TfrmAdd::PackList() const {
    QStringList lines;
    for (int i = 0; i < lbPackListe->count(); ++i) {
        lines << lbPackListe->item(i)->text();
    }
    return lines;
}

void TfrmAdd::menuPopup(const QPoint& globalPos) {
    menuitem->setEnabled(lviFiles->SelectedCount() > 0);
    menu->popup(globalPos);
}

void TfrmAdd::menuitemClick() {
    const std::vector<int> rows = lviFiles->SelectedRows();
    if (!rows.empty()) {
        ShowFileProperties(lviFiles->Item(rows.front()).fullPath);
    }
}
