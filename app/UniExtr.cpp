#include "UniExtr.h"

#include "Global.h"
#include "HelpWindow.h"
#include "MessageBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 40;
// Long enough for any path the system accepts, so a folder picked deep in the tree is never
// cut short.
constexpr int kTargetLength = 4095;
const QColor kCream(255, 251, 240);
const QString kCaption = QStringLiteral("Zielverzeichnis");

QFrame* Group(QWidget* parent, QLabel* title) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    return frame;
}

}  // namespace

TfrmExtr::TfrmExtr(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmExtr"));
    FormCreate();
}

TfrmExtr::~TfrmExtr() = default;

QString TfrmExtr::CreateQuestionText(const QString& folder) {
    return QStringLiteral("Der Ordner: ") + folder + QStringLiteral("\r\r") +
           QStringLiteral("ist nicht vorhanden.") + QStringLiteral("\r\r") +
           QStringLiteral("Soll er angelegt werden werden?          ") + QStringLiteral("\r\r");
}

QString TfrmExtr::CreateErrorText(const QString& folder) {
    return QStringLiteral("Der Ordner: ") + folder + QStringLiteral("\r\r") +
           QStringLiteral("kann nicht angelegt werden. Mögliche Gründe können sein:     ") +
           QStringLiteral("\r") + QStringLiteral("Der Zugriff auf das Laufwerk ist nicht möglich") +
           QStringLiteral("\r") + QStringLiteral("oder der Ordnername ist nicht zulässig.") +
           QStringLiteral("\r\r");
}

void TfrmExtr::BuildLayout() {
    ShellTreeView1 = new QTreeView(this);
    ShellTreeView1->setFixedWidth(ScaleForDpi(350));
    ShellTreeView1->setHeaderHidden(true);
    ShellTreeView1->setContextMenuPolicy(Qt::NoContextMenu);
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ShellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ShellTreeView1->setRootIsDecorated(false);
    ShellTreeView1->setSortingEnabled(true);
    ShellTreeView1->installEventFilter(this);
    ShellTreeView1->viewport()->installEventFilter(this);

    auto* right = new QFrame(this);
    right->setFixedWidth(ScaleForDpi(300));
    QPalette pal = right->palette();
    pal.setColor(QPalette::Window, kCream);
    right->setPalette(pal);
    right->setAutoFillBackground(true);

    lblOption = new QLabel(QStringLiteral("Optionen"), right);
    QFrame* options = Group(right, lblOption);
    chbMitVerNam = new QCheckBox(QStringLiteral("Mit Ordnernamen entpacken"), options);
    chbUeberschr = new QCheckBox(QStringLiteral("Vorhandene Dateien überschreiben"), options);
    chbMitVerNam->setChecked(true);
    chbUeberschr->setChecked(true);
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addWidget(chbMitVerNam);
    optionsLayout->addWidget(chbUeberschr);

    lblNach = new QLabel(QStringLiteral("Entpacken nach:"), right);
    QFrame* target = Group(right, lblNach);
    ediZielverz = new QLineEdit(target);
    ediZielverz->setMaxLength(kTargetLength);
    auto* targetLayout = new QVBoxLayout(target);
    targetLayout->addWidget(ediZielverz);

    btnZielOk = new QPushButton(QStringLiteral("&Ok"), right);
    btnZielOk->setDefault(true);
    btnZielAbbr = new QPushButton(QStringLiteral("Abbrechen"), right);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnZielOk);
    buttons->addWidget(btnZielAbbr);

    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(14, 14, 14, 14);
    rightLayout->addWidget(lblOption);
    rightLayout->addWidget(options);
    rightLayout->addSpacing(12);
    rightLayout->addWidget(lblNach);
    rightLayout->addWidget(target);
    rightLayout->addStretch(1);
    rightLayout->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ShellTreeView1);
    layout->addWidget(right);

    setTabOrder(ediZielverz, chbUeberschr);
    setTabOrder(chbUeberschr, chbMitVerNam);
    setTabOrder(chbMitVerNam, btnZielOk);
    setTabOrder(btnZielOk, btnZielAbbr);
}

void TfrmExtr::FormCreate() {
    setFont(QApplication::font("QMenu"));
    setWindowTitle(kCaption);
    BuildLayout();
    setFixedSize(ScaleForDpi(650), ScaleForDpi(450));
    RefreshTree();
    connect(btnZielOk, &QPushButton::clicked, this, &TfrmExtr::btnZielOkClick);
    connect(btnZielAbbr, &QPushButton::clicked, this, &TfrmExtr::btnZielAbbrClick);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [] { ShowHelp(kHelpContext); });
}

void TfrmExtr::RefreshTree() {
    // A new model reads every folder afresh.
    QFileSystemModel* old = model_;
    QItemSelectionModel* oldSelection = ShellTreeView1->selectionModel();
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::Drives | QDir::Hidden | QDir::NoDotAndDotDot);
    model_->setReadOnly(true);
    static QFileIconProvider icons;
    model_->setIconProvider(&icons);
    // Folders are read and sorted in the background: keep the proposed folder in view while
    // the folders above it fill in, until the user moves in the tree.
    const auto follow = [this] {
        if (followSelection_) {
            ShellTreeView1->scrollTo(ShellTreeView1->currentIndex());
        }
    };
    // Queued, so that the tree has laid out the new rows first.
    connect(model_, &QFileSystemModel::directoryLoaded, this, follow, Qt::QueuedConnection);
    connect(model_, &QAbstractItemModel::layoutChanged, this, follow, Qt::QueuedConnection);
    model_->setRootPath(QStringLiteral("/"));
    ShellTreeView1->setModel(model_);
    ShellTreeView1->sortByColumn(0, Qt::AscendingOrder);
    for (int column = 1; column < model_->columnCount(); ++column) {
        ShellTreeView1->hideColumn(column);
    }
    ShellTreeView1->expand(model_->index(QStringLiteral("/")));
    connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TfrmExtr::ShellTreeView1Change);
    delete oldSelection;
    delete old;
}

QString TfrmExtr::SelectedTreePath() const {
    const QModelIndex current = ShellTreeView1->currentIndex();
    return current.isValid() ? model_->filePath(current) : QString();
}

bool TfrmExtr::SelectTreePath(const QString& path) {
    QString clean = QDir::cleanPath(path);
    const QModelIndex index = model_->index(clean);
    if (!index.isValid()) {
        return false;
    }
    ShellTreeView1->setCurrentIndex(index);
    ShellTreeView1->scrollTo(index);
    return true;
}

void TfrmExtr::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TfrmExtr::FormActivate() {
    if (ExtractFolder.isEmpty()) {
        ExtractFolder = QDir::homePath();
    }
    ExtractFolder = IncludeTrailingSlash(ExtractFolder);
    followSelection_ = true;
    RefreshTree();
    SelectTreePath(ExtractFolder);
    setWindowTitle(kCaption + QStringLiteral(": ") + ExtractFolder);
    ediZielverz->setText(ExtractFolder);
    DialogCancelled = true;
    ediZielverz->setFocus();
    ediZielverz->selectAll();
}

void TfrmExtr::ShellTreeView1Change() {
    if (!isVisible()) {
        return;
    }
    const QString path = SelectedTreePath();
    if (!path.isEmpty() && QFileInfo(path).isDir()) {
        ExtractFolder = IncludeTrailingSlash(path);
        ediZielverz->setText(ExtractFolder);
        setWindowTitle(kCaption + QStringLiteral(": ") + ExtractFolder);
    } else {
        SelectTreePath(ExtractFolder);
    }
}

void TfrmExtr::btnZielOkClick() {
    const QString target = ediZielverz->text();
    if (!QFileInfo(target).isDir()) {
        if (ShowMessage(TMessageKind::mkConfirmation, CreateQuestionText(target),
                        QMessageBox::Yes | QMessageBox::No, this) != QMessageBox::Yes) {
            return;
        }
        if (!target.isEmpty()) {
            QDir().mkpath(target);
        }
        if (!QFileInfo(target).isDir()) {
            ShowMessage(TMessageKind::mkError, CreateErrorText(target), QMessageBox::Ok, this);
            return;
        }
    }
    ExtractFolder = target;
    DialogCancelled = false;
    ExtractTarget = ExtractFolder;
    ExtractWithPaths = chbMitVerNam->isChecked();
    ExtractOverwrite = chbUeberschr->isChecked();
    accept();
}

void TfrmExtr::btnZielAbbrClick() {
    ExtractTarget.clear();
    reject();
}

bool TfrmExtr::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::KeyPress:
        case QEvent::Wheel:
            followSelection_ = false;
            break;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmExtr::keyPressEvent(QKeyEvent* event) {
    // Escape presses the cancel button, as a dialog's cancel button does.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btnZielAbbrClick();
        return;
    }
    QDialog::keyPressEvent(event);
}
