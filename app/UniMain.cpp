#include "app/UniMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/Global.h"
#include "app/HelpWindow.h"
#include "app/ImageLists.h"
#include "app/Info.h"
#include "app/MessageBoxes.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"
#include "app/WindowPlacement.h"
#include "zip/ZACore.h"
#include "zip/ZAIRec.h"

namespace {

// Design sizes at 96 pixels per inch.
constexpr int kStripHeight = 33;
constexpr int kProgressPanelHeight = 45;
constexpr int kButtonWidth = 99;
constexpr int kButtonHeight = 60;
const QColor kCream(0xFF, 0xFB, 0xF0);

struct TColumnSetting {
    const char* key;
    int defaultWidth;
};
constexpr TColumnSetting kColumnSettings[TArchiveListModel::kColumns] = {{"breitdateiname", 179},
                                                                         {"breitgepackt", 90},
                                                                         {"breitungepackt", 90},
                                                                         {"breitgeaendertam", 105},
                                                                         {"breitpackrate", 60}};

int readInt(QSettings& s, const char* key, int fallback) {
    const QVariant v = s.value(QLatin1String(key));
    if (!v.isValid()) {
        return fallback;
    }
    bool ok = false;
    const int n = v.toString().toInt(&ok);
    return ok ? n : fallback;
}

void writeInt(QSettings& s, const char* key, int value) {
    s.setValue(QLatin1String(key), QString::number(value));
}

// Grid lines and an underlined row under the mouse, as the list is drawn.
class TEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->state & QStyle::State_MouseOver) {
            option->font.setUnderline(true);
        }
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Midlight));
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->restore();
    }
};

QString folderWithSlash(const QString& path) {
    QString folder = QFileInfo(path).absolutePath();
    if (!folder.endsWith('/')) {
        folder += '/';
    }
    return folder;
}

// The name with its extension replaced by ".zip" (added when it has none).
QString withZipExtension(const QString& name) {
    const qsizetype slash = name.lastIndexOf('/');
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > slash + 0 && dot > slash) {
        return name.left(dot) + QStringLiteral(".zip");
    }
    return name + QStringLiteral(".zip");
}

}  // namespace

QString LocateProgramFile(const QString& name) {
    const QString dir = QCoreApplication::applicationDirPath();
    QStringList candidates{dir + '/' + name,
                           dir + QStringLiteral("/../" TARVIK_INSTALL_LIBDIR "/tarvik/") + name};
#ifdef TARVIK_BUILD_BIN_DIR
    candidates << QStringLiteral(TARVIK_BUILD_BIN_DIR "/") + name;
#endif
    for (const QString& c : candidates) {
        if (QFileInfo(c).isFile()) {
            return QFileInfo(c).absoluteFilePath();
        }
    }
    return candidates.front();
}

TfrmMain::TfrmMain(QStringList arguments, QWidget* parent)
    : QMainWindow(parent),
      arguments_(std::move(arguments)),
      zip_(std::make_unique<TZipArchiver>()) {
    setObjectName(QStringLiteral("frmMain"));
    buildLayout();
    attachComponent();

    // Font of the window: the system's menu font.
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));

    FirstActivation = true;
    setAcceptDrops(true);
    DroppedFiles.clear();

    // Help: missing help pages are reported once; start-up continues.
    if (!HelpAvailable()) {
        ShowMessage(
            TMessageKind::mkInformation,
            QStringLiteral("Hilfe-Datei nicht gefunden\n") + HelpPageForContext(10).toString(),
            QMessageBox::Ok, this);
    }

    Bedienelemente();
    QCoreApplication::processEvents();

    // The stub that becomes the front of a self-extracting archive: the file
    // beside the program (or where the installation put it); without one, the
    // bare name lets the component fall back to the stub built into the program.
    const QString stub = LocateProgramFile(QStringLiteral("ZASFX191.bin"));
    zip_->SetSFXPath(QFileInfo(stub).isFile() ? stub.toStdString() : std::string("ZASFX191.bin"));

    LoadSettings();

    const QString title = QStringLiteral("Tarvik ") + GetVersionText(2);
    QGuiApplication::setApplicationDisplayName(title);
    SetApplicationTitle(title.toStdString());
    setWindowTitle(title);
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarvik.png")));

    // The dialogs, in the order the program has always created them.
    frmExtr_ = std::make_unique<TfrmExtr>(this);
    frmAdd_ = std::make_unique<TfrmAdd>(this);
    frmAdd_->CommandLineParams = arguments_.mid(0, 1);
    frmInfo_ = std::make_unique<TfrmInfo>(this);
}

TfrmMain::~TfrmMain() {
    // The component's events point back here; drop them before the widgets go.
    zip_->OnDirUpdate = nullptr;
    zip_->OnProgress = nullptr;
    zip_->OnMessage = nullptr;
    zip_->OnZipDialog = nullptr;
    zip_->OnSetAddName = nullptr;
    zip_->OnStateChange = nullptr;
}

void TfrmMain::attachComponent() {
    // The application speaks UTF-8 and German to the component.
    zip_->SetUseUTF8(true);
    zip_->SetLanguage("DE");
    // The self-extracting program's caption; no options, always overwrite.
    zip_->SetSFXCaption("Selbstenpackendes Tarvik - Archiv");
    zip_->SetSFXOptions({});
    zip_->SetSFXOverwriteMode(ovrAlways);
    zip_->OnDirUpdate = [this](TCustomZipArchiver&) { ZipArchiver1DirUpdate(); };
    zip_->OnProgress = [this](TCustomZipArchiver&, TZAProgressDetails& d) {
        ZipArchiver1Progress(d);
    };
    zip_->OnMessage = [this](TCustomZipArchiver&, int code, const std::string& msg) {
        if (!isRequestedAbort(code, msg)) {
            ZipArchiver1Message(code, msg);
        }
    };
    // The component's own information box says what its message event says
    // again: the window shows the text once, in its own box.
    zip_->OnZipDialog = [this](TCustomZipArchiver&, const std::string&, std::string& msg,
                               int& result, TMsgDlgButtons buttons) {
        if (DialogKind(static_cast<std::uint32_t>(result)) == zdInformation &&
            buttons == TMsgDlgButtons{mbOK}) {
            queueMessage(msg);
            result = mrOk;
        }
    };
    zip_->OnSetAddName = [this](TCustomZipArchiver&, std::string& name, const std::string& ext,
                                bool& changed) { ZipArchiver1SetAddName(name, ext, changed); };
    zip_->OnStateChange = [this](TCustomZipArchiver&, int state, bool&) {
        workStateChanged(IsBusyState(static_cast<TZAStates>(state)));
    };
}

// --- Layout --------------------------------------------------------------------

void TfrmMain::buildLayout() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The cream strip with "Inhalt von:" and the archive's name.
    auto* strip = new QFrame(central);
    strip->setObjectName(QStringLiteral("panOben"));
    strip->setFixedHeight(ScaleForDpi(kStripHeight));
    strip->setAutoFillBackground(true);
    QPalette pal = strip->palette();
    pal.setColor(QPalette::Window, kCream);
    pal.setColor(QPalette::WindowText, Qt::black);
    strip->setPalette(pal);
    strip->setFrameShape(QFrame::NoFrame);
    auto* stripRow = new QHBoxLayout(strip);
    stripRow->setContentsMargins(ScaleForDpi(8), 0, ScaleForDpi(8), 0);
    stripRow->setSpacing(ScaleForDpi(8));
    lblInhalt_ = new QLabel(QStringLiteral("Inhalt von:"), strip);
    lblInhalt_->setObjectName(QStringLiteral("lblInhalt"));
    QFont bold = lblInhalt_->font();
    bold.setPixelSize(19);
    bold.setBold(true);
    lblInhalt_->setFont(bold);
    lblArchivName_ = new QLabel(strip);
    lblArchivName_->setObjectName(QStringLiteral("lblArchivName"));
    QFont nameFont = lblArchivName_->font();
    nameFont.setPixelSize(19);
    lblArchivName_->setFont(nameFont);
    stripRow->addWidget(lblInhalt_);
    stripRow->addWidget(lblArchivName_, 1);
    auto* line = new QFrame(central);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(strip);
    column->addWidget(line);

    buildList();
    column->addWidget(listView_, 1);
    buildProgressPanel();
    column->addWidget(panUnten_);
    setCentralWidget(central);

    buildToolbar();
    buildStatusBar();
    buildKeyboard();
    buildDrag();
}

void TfrmMain::buildList() {
    model_ = new TArchiveListModel(this);
    listView_ = new QTreeView(this);
    listView_->setObjectName(QStringLiteral("ListView1"));
    listView_->setModel(model_);
    listView_->setRootIsDecorated(false);
    listView_->setItemsExpandable(false);
    listView_->setUniformRowHeights(true);
    listView_->setAllColumnsShowFocus(true);
    listView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView_->setMouseTracking(true);
    listView_->setItemDelegate(new TEntryDelegate(listView_));
    listView_->setContextMenuPolicy(Qt::CustomContextMenu);
    listView_->header()->setSectionsMovable(false);
    listView_->header()->setSortIndicatorShown(false);
    listView_->header()->setSectionsClickable(true);
    listView_->header()->setStretchLastSection(false);
    // The selection stays visible when the list loses the focus.
    QPalette pal = listView_->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    listView_->setPalette(pal);

    connect(listView_->header(), &QHeaderView::sectionClicked, this,
            &TfrmMain::ListView1ColumnClick);
    connect(listView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ListView1SelectItem(); });
    // Refilling the list drops the selection without reporting a change.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { ListView1SelectItem(); });
    connect(listView_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            RunCommand(&TfrmMain::popAnzeigenVerkClick);
        }
    });

    popup_ = new QMenu(this);
    popup_->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* a = popup_->addAction(QStringLiteral("Anzeigen"), this,
                                   [this] { RunCommand(&TfrmMain::popAnzeigenClick); });
    a->setObjectName(QStringLiteral("popAnzeigen"));
    a = popup_->addAction(QStringLiteral("Mit verknüpftem Programm anzeigen"), this,
                          [this] { RunCommand(&TfrmMain::popAnzeigenVerkClick); });
    a->setObjectName(QStringLiteral("popAnzeigenVerk"));
    popup_->addSeparator();
    a = popup_->addAction(QStringLiteral("Anzeigeprogramm auswählen"), this,
                          &TfrmMain::popAnzeigePgmWahlClick);
    a->setObjectName(QStringLiteral("popAnzeigePgmWahl"));
    connect(listView_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { popup_->popup(listView_->viewport()->mapToGlobal(pos)); });
}

void TfrmMain::buildProgressPanel() {
    panUnten_ = new QWidget(this);
    panUnten_->setObjectName(QStringLiteral("panUnten"));
    panUnten_->setFixedHeight(ScaleForDpi(kProgressPanelHeight));
    // The labels and the bar, and beside them the button that cancels the work.
    auto* outer = new QHBoxLayout(panUnten_);
    outer->setContentsMargins(0, 0, ScaleForDpi(8), 0);
    auto* rows = new QVBoxLayout;
    outer->addLayout(rows, 1);
    rows->setContentsMargins(ScaleForDpi(8), ScaleForDpi(3), 0, ScaleForDpi(3));
    rows->setSpacing(ScaleForDpi(2));
    auto* labels = new QHBoxLayout;
    labels->setSpacing(ScaleForDpi(4));
    lblMeldung_ = new QLabel(QStringLiteral("Bearbeite Datei:"), panUnten_);
    lblMeldung_->setObjectName(QStringLiteral("lblMeldung"));
    QFont bold = lblMeldung_->font();
    bold.setBold(true);
    lblMeldung_->setFont(bold);
    lblDateiname_ = new QLabel(QStringLiteral("zu bearbeitende Dateien"), panUnten_);
    lblDateiname_->setObjectName(QStringLiteral("lblDateiname"));
    labels->addWidget(lblMeldung_);
    labels->addWidget(lblDateiname_, 1);
    progressBar_ = new QProgressBar(panUnten_);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setTextVisible(false);
    rows->addLayout(labels);
    auto* barRow = new QHBoxLayout;
    barRow->setContentsMargins(0, 0, ScaleForDpi(40) - ScaleForDpi(8), 0);
    barRow->addWidget(progressBar_);
    rows->addLayout(barRow);
    btnAbbrechen_ = new QPushButton(QStringLiteral("Abbrechen"), panUnten_);
    btnAbbrechen_->setObjectName(QStringLiteral("btnAbbrechen"));
    btnAbbrechen_->setToolTip(QStringLiteral("Abbrechen (Esc)"));
    btnAbbrechen_->setEnabled(false);
    connect(btnAbbrechen_, &QPushButton::clicked, this, &TfrmMain::CancelWork);
    outer->addWidget(btnAbbrechen_, 0, Qt::AlignVCenter);
    panUnten_->hide();
}

void TfrmMain::buildToolbar() {
    toolBar_ = new QToolBar(QStringLiteral("Befehle"), this);
    toolBar_->setObjectName(QStringLiteral("ToolBar1"));
    toolBar_->setOrientation(Qt::Vertical);
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    const int dpi = ScreenDpi();
    toolBar_->setIconSize(ToolbarImageSize(dpi));

    struct TButton {
        const char* name;
        const char* caption;
        int image;
        void (TfrmMain::*handler)();
    };
    const TButton buttons[] = {
        {"tbtOeffnen", "Öffnen / Neu...", 6, &TfrmMain::tbtOeffnenClick},
        {"tbtEntpacken", "Entpacken...", 1, &TfrmMain::tbtEntpackenClick},
        {"tbtHinzu", "Hinzufügen...", 3, &TfrmMain::tbtHinzuClick},
        {"tbtLoesch", "Löschen...", 5, &TfrmMain::tbtLoeschClick},
        {"tbtUmwandeln", "Umwandeln", 7, &TfrmMain::tbtUmwandelnClick},
        {"tbtInfo", "Info", 4, &TfrmMain::tbtInfoClick},
        {"tbtHilfe", "Hilfe", 2, &TfrmMain::tbtHilfeClick},
        {"tbtBeenden", "Beenden", 0, &TfrmMain::tbtBeendenClick},
    };
    int widest = 0;
    for (const TButton& b : buttons) {
        QAction* action = toolBar_->addAction(
            QIcon(ToolbarPixmap(static_cast<TToolbarImage>(b.image), dpi, ScreenPixelRatio())),
            QString::fromUtf8(b.caption));
        action->setObjectName(QLatin1String(b.name));
        // Set explicitly, or the button drops the trailing "...".
        action->setIconText(QString::fromUtf8(b.caption));
        connect(action, &QAction::triggered, this, [this, h = b.handler] { RunCommand(h); });
        if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(action))) {
            button->setObjectName(QLatin1String(b.name) + QStringLiteral("Button"));
            button->setFixedSize(ScaleForDpi(kButtonWidth), ScaleForDpi(kButtonHeight));
            button->setAutoRaise(true);
            widest = std::max(widest, button->width());
        }
    }
    // The panel is three pixels wider than the buttons.
    toolBar_->setFixedWidth(widest + 3 + 2 * toolBar_->contentsMargins().left());
    addToolBar(Qt::RightToolBarArea, toolBar_);
}

void TfrmMain::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    const int widths[4] = {80, 100, 140, 0};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        if (i < 3) {
            panel->setAlignment(Qt::AlignCenter);
            panel->setFixedWidth(ScaleForDpi(widths[i]));
            bar->addWidget(panel);
        } else {
            panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            bar->addWidget(panel, 1);
        }
        statusPanels_[i] = panel;
    }
}

int TfrmMain::minimumToolbarHeight() const {
    const int buttons = static_cast<int>(toolBar_->actions().size()) * ScaleForDpi(kButtonHeight);
    return buttons + 2 * toolBar_->contentsMargins().top() + statusBar()->sizeHint().height() +
           ScaleForDpi(16);
}

QAction* TfrmMain::Command(const QString& objectName) const {
    for (QAction* a : toolBar_->actions()) {
        if (a->objectName() == objectName) {
            return a;
        }
    }
    return nullptr;
}

// --- Settings ------------------------------------------------------------------

void TfrmMain::LoadSettings() {
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KVL"),
                QStringLiteral("Tarvik"));
    s.beginGroup(QStringLiteral("Position"));
    winStatus_ = readInt(s, "winstatus", 1);
    const int left = readInt(s, "vonlinks", 0);
    const int top = readInt(s, "vonoben", 0);
    const int height = readInt(s, "hoch", 476);
    int width = readInt(s, "breit", 636);
    for (int i = 0; i < TArchiveListModel::kColumns; ++i) {
        columnWidths_[i] = readInt(s, kColumnSettings[i].key, kColumnSettings[i].defaultWidth);
    }
    // The date column's first width must hold a whole date and time in this
    // desktop's font, which is wider than the one the widths were made for.
    if (!s.contains(QLatin1String(kColumnSettings[3].key))) {
        const int needed = listView_->fontMetrics().horizontalAdvance(
                               TArchiveListModel::DateCellText(0x58560000)) +
                           ScaleForDpi(14);
        columnWidths_[3] = std::max(columnWidths_[3], needed);
        if (!s.contains(QStringLiteral("breit"))) {
            width += columnWidths_[3] - kColumnSettings[3].defaultWidth;  // all columns in view
        }
    }
    s.endGroup();
    s.beginGroup(QStringLiteral("Optionen"));
    const QVariant editor = s.value(QStringLiteral("editor"));
    ViewerProgram = editor.isValid() ? editor.toString() : DefaultViewerProgram();
    ArchiveSortColumn = readInt(s, "zipsort", 0);
    FileSortColumn = readInt(s, "dateisort", 2);
    s.endGroup();

    // All eight commands stay reachable: the window is never lower than the
    // toolbar. A position that no screen of today shows is moved onto one.
    const QRect placed = PlaceOnScreens(
        QRect(left, top, width, std::max(height, minimumToolbarHeight())), AvailableScreenAreas());
    move(placed.topLeft());
    resize(placed.width(), std::max(placed.height(), minimumToolbarHeight()));
}

void TfrmMain::SaveSettings() {
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KVL"),
                QStringLiteral("Tarvik"));
    int state = 1;
    if (isMinimized()) {
        state = 3;
    } else if (isMaximized()) {
        state = 2;
    }
    s.beginGroup(QStringLiteral("Position"));
    writeInt(s, "winstatus", state);
    // A maximised or minimised window keeps the last normal bounds.
    if (state == 1) {
        writeInt(s, "vonlinks", x());
        writeInt(s, "vonoben", y());
        writeInt(s, "hoch", height());
        writeInt(s, "breit", width());
    }
    for (int i = 0; i < TArchiveListModel::kColumns; ++i) {
        const int w = FirstActivation ? columnWidths_[i] : listView_->header()->sectionSize(i);
        writeInt(s, kColumnSettings[i].key, w);
    }
    s.endGroup();
    s.beginGroup(QStringLiteral("Optionen"));
    s.setValue(QStringLiteral("editor"), ViewerProgram);
    writeInt(s, "zipsort", ArchiveSortColumn);
    writeInt(s, "dateisort", FileSortColumn);
    s.endGroup();
    s.sync();
}

// --- Start, activation, close ----------------------------------------------------

bool TfrmMain::event(QEvent* e) {
    const bool result = QMainWindow::event(e);
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
    } else if (e->type() == QEvent::Show && FirstActivation) {
        // Platforms without window activation (offscreen) still get the
        // first-activation steps once the window is up.
        QMetaObject::invokeMethod(this, &TfrmMain::FormActivate, Qt::QueuedConnection);
    }
    return result;
}

void TfrmMain::FormActivate() {
    QCoreApplication::processEvents();
    if (!FirstActivation) {
        return;
    }
    FirstActivation = false;
    Bedienelemente();
    // The view folder is made on the first view; those that ended instances
    // left behind go now.
    RemoveStaleTempViewFolders();
    switch (winStatus_) {
        case 2:
            showMaximized();
            break;
        case 3:
            showMinimized();
            break;
        default:
            break;
    }
    for (int i = 0; i < TArchiveListModel::kColumns; ++i) {
        listView_->header()->resizeSection(i, columnWidths_[i]);
    }
    if (arguments_.isEmpty()) {
        return;
    }
    const QString first = arguments_.front();
    const QFileInfo info(first);
    SourceFolder =
        first.contains('/') ? folderWithSlash(first) : QDir::currentPath() + QStringLiteral("/");
    OpenFolder = SourceFolder;
    ExtractFolder = SourceFolder;
    ParamIsArchive = info.isFile() && info.suffix().toLower() == QStringLiteral("zip");
    if (ParamIsArchive) {
        OeffneArchiv(first);
    } else {
        // The add dialog pre-marks the file named on the command line.
        RunCommand(&TfrmMain::tbtOeffnenClick);
        if (!ArchiveName().isEmpty()) {
            RunCommand(&TfrmMain::tbtHinzuClick);
        }
    }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!confirmCloseWhileWorking()) {
        event->ignore();
        return;
    }
    // Only this instance's copies go; other instances keep theirs.
    RemoveTempViewFolder();
    SaveSettings();
    DroppedFiles.clear();
    event->accept();
}

// --- Dropped files -----------------------------------------------------------------

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (commandRunning_ || event->source() == listView_) {
        return;  // nothing is added while other work runs, nor entries dragged out of the list
    }
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
}

void TfrmMain::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    event->acceptProposedAction();
    if (!paths.isEmpty()) {
        // Leave the drag first: the add command shows modal dialogs.
        QMetaObject::invokeMethod(
            this, [this, paths] { RunDrop(paths); }, Qt::QueuedConnection);
    }
}

void TfrmMain::HandleDroppedFiles(const QStringList& paths) {
    for (const QString& p : paths) {
        DroppedFiles << p;
    }
    activateWindow();
    raise();
    SourceFolder = folderWithSlash(paths.front());
    OpenFolder = SourceFolder;
    if (ArchiveName().isEmpty()) {
        tbtOeffnenClick();
        if (ArchiveName().isEmpty()) {
            return;  // the dropped paths wait for the next add
        }
    }
    tbtHinzuClick();
}

// --- The archive and its list ------------------------------------------------------

QString TfrmMain::ArchiveName() const {
    return QString::fromStdString(zip_->ZipFileName());
}

void TfrmMain::OeffneArchiv(const QString& name) {
    RatioText.clear();
    SizeText.clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QFileInfo info(name);
    const bool isNew = !info.isFile();
    inCommand_ = true;
    try {
        if (!isNew) {
            zip_->SetZipFileName(info.absoluteFilePath().toStdString());
        } else {
            // A new archive: nothing is written now; the first add creates it.
            zip_->SetZipFileName(withZipExtension(info.absoluteFilePath()).toStdString());
        }
    } catch (...) {
        // The component reports its own errors; the steps below still run.
    }
    QApplication::restoreOverrideCursor();
    inCommand_ = false;
    if (!isNew && zip_->Count() == 0 && offerRepair(info.absoluteFilePath())) {
        return;  // the repaired copy is open, or the user declined
    }
    if (zip_->Count() > 0 || isNew) {
        OpenFolder = folderWithSlash(ArchiveName());
        ExtractFolder = OpenFolder;
        showPendingMessages();
    } else {
        // One box: what happened, why (the component's reason), what to do.
        const QString reason = takePendingMessages();
        ShowMessage(
            TMessageKind::mkError,
            QStringLiteral("Die Datei\n\n") + name +
                QStringLiteral("\n\nenthält keine Archiv-Dateien oder ist beschädigt.         ") +
                (reason.isEmpty() ? QString() : QStringLiteral("\n\n") + reason) +
                QStringLiteral("\n\nÖffnen Sie ein anderes Archiv, oder legen Sie mit "
                               "„Hinzufügen“ ein neues an."),
            QMessageBox::Ok, this);
    }
    Bedienelemente();
}

void TfrmMain::ZipArchiver1DirUpdate() {
    // An empty list (the component drops the directory before it reloads it)
    // leaves the state of the last filled list waiting for the next fill.
    if (model_->rowCount() > 0) {
        keptListState_ = saveListState();
    }
    FillGrid();
    if (model_->rowCount() > 0) {
        restoreListState(std::move(keptListState_));
        keptListState_ = {};
    }
    statusPanels_[0]->setText(QString::number(zip_->Count()) + QStringLiteral(" Dateien"));
    statusPanels_[1]->setText(QStringLiteral("Packrate: ") + RatioText);
    statusPanels_[2]->setText(QStringLiteral("Archivgröße: ") + SizeText);
    for (int i = 0; i < 3; ++i) {
        resizeStatusPanel(i);
    }
    repaint();
}

void TfrmMain::resizeStatusPanel(int i) {
    QLabel* panel = statusPanels_[i];
    panel->setFixedWidth(panel->fontMetrics().horizontalAdvance(panel->text()) + 30);
}

void TfrmMain::FillGrid() {
    model_->Clear();
    QCoreApplication::processEvents();
    const int count = zip_->Count();
    if (count <= 0) {
        return;
    }
    totalPacked_ = 0;
    totalUnpacked_ = 0;
    // The names' room: their stored length, and some more for names whose
    // display form is longer than their stored bytes.
    std::size_t nameBytes = 0;
    for (int i = 0; i < count; ++i) {
        if (const TZADirEntry* e = zip_->DirEntryNow(i)) {
            nameBytes += e->StoredNameLength();
        }
    }
    TArchiveRows rows;
    rows.Reserve(static_cast<std::size_t>(count), nameBytes + nameBytes / 8);
    for (int i = 0; i < count; ++i) {
        TZADirEntry* const e = zip_->DirEntryNow(i);
        if (!e) {
            continue;
        }
        const std::int64_t packed = e->CompressedSize();
        const std::int64_t unpacked = e->UncompressedSize();
        rows.Add(e->FileName(), packed, unpacked, e->DosDateTime());
        // 64-bit sums: archives of 2 GiB and more show their real size.
        totalPacked_ += static_cast<std::uint64_t>(std::max<std::int64_t>(packed, 0));
        totalUnpacked_ += static_cast<std::uint64_t>(std::max<std::int64_t>(unpacked, 0));
    }
    listView_->setUpdatesEnabled(false);
    model_->SetRows(std::move(rows), ArchiveSortColumn);
    listView_->setUpdatesEnabled(true);
    if (totalPacked_ != 0 && totalUnpacked_ != 0) {
        const double ratio =
            100.0 / (static_cast<double>(totalUnpacked_) / static_cast<double>(totalPacked_));
        RatioText = FormatPicture(ratio, 0, false) + QStringLiteral(" %");
        SizeText = FormatSizeText(static_cast<std::int64_t>(totalPacked_));
    } else {
        RatioText.clear();
        SizeText.clear();
    }
}

void TfrmMain::ListView1ColumnClick(int column) {
    if (column < 0 || column >= TArchiveListModel::kColumns) {
        return;
    }
    ArchiveSortColumn = column;
    model_->SortByColumn(column);
}

void TfrmMain::ListView1SelectItem() {
    Command(QStringLiteral("tbtLoesch"))->setEnabled(listView_->selectionModel()->hasSelection());
}

std::vector<int> TfrmMain::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : listView_->selectionModel()->selectedRows(0)) {
        rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList TfrmMain::SelectedCaptions() const {
    QStringList captions;
    for (int row : selectedRows()) {
        captions << model_->FileName(row);
    }
    return captions;
}

void TfrmMain::Bedienelemente() {
    for (const char* name : {"tbtHinzu", "tbtEntpacken", "tbtLoesch", "tbtUmwandeln"}) {
        Command(QLatin1String(name))->setEnabled(false);
    }
    const QString archive = ArchiveName();
    if (!archive.isEmpty()) {
        lblArchivName_->setText(QFileInfo(archive).fileName());
        statusPanels_[3]->setText(QStringLiteral(" ") + archive);
        Command(QStringLiteral("tbtHinzu"))->setEnabled(true);
        if (model_->rowCount() > 0) {
            Command(QStringLiteral("tbtEntpacken"))->setEnabled(true);
            Command(QStringLiteral("tbtUmwandeln"))->setEnabled(true);
        }
    } else {
        model_->Clear();
        lblArchivName_->clear();
        RatioText.clear();
        SizeText.clear();
        for (QLabel* panel : statusPanels_) {
            panel->clear();
        }
    }
}
