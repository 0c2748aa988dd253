#include "FileListView.h"

#include "Global.h"

#include <QDir>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QLocale>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>

namespace {

constexpr int kItemIndexRole = Qt::UserRole + 1;

// Column 0 carries the index of its TFileItem; sorting asks the view for the rule.
class TFileListItem : public QStandardItem {
public:
    TFileListItem(const std::vector<TFileItem>& items, size_t index, const int& column)
        : items_(items), column_(column) {
        setData(static_cast<qulonglong>(index), kItemIndexRole);
    }
    bool operator<(const QStandardItem& other) const override {
        const auto a = data(kItemIndexRole).toULongLong();
        const auto b = other.data(kItemIndexRole).toULongLong();
        return CompareFileItems(items_[a], items_[b], column_) < 0;
    }

private:
    const std::vector<TFileItem>& items_;
    const int& column_;
};

}  // namespace

QString SizeColumnText(int64_t size) {
    if (size <= 0) {
        return QStringLiteral("0 KB");
    }
    // Anything below one kilobyte still shows as 1 KB.
    const int64_t kb = std::max<int64_t>(size, 1024) / 1024;
    return FormatPicture(static_cast<double>(kb), 0, true) + QStringLiteral(" KB");
}

QString TotalSizeText(int64_t total) {
    if (total < 0) {
        return {};
    }
    if (total < 1024) {
        return QString::number(total) + QStringLiteral(" Byte");
    }
    if (total <= 1048575) {
        return FormatPicture(total / 1024.0, 2, true) + QStringLiteral(" KByte");
    }
    return FormatPicture(total / 1048576.0, 2, true) + QStringLiteral(" MByte");
}

QString ModifiedText(const QDateTime& lastWrite) {
    if (!lastWrite.isValid()) {
        return {};
    }
    const QDateTime local = lastWrite.toLocalTime();
    const QLocale locale;
    QString time = locale.timeFormat(QLocale::ShortFormat);
    // The short format has no seconds in most locales; make sure of it.
    time.remove(QStringLiteral(":ss")).remove(QStringLiteral(":s"));
    return local.toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral("  ") +
           locale.toString(local.time(), time);
}

int CompareFileItems(const TFileItem& a, const TFileItem& b, int column) {
    if (column < 0 || column > 3) {
        return 0;
    }
    if (a.isDir != b.isDir) {
        return a.isDir ? -1 : 1;
    }
    const auto byText = [](const QString& x, const QString& y) {
        return QString::localeAwareCompare(x, y);
    };
    switch (column) {
        case 0:
            return byText(a.displayName, b.displayName);
        case 1:
            if (a.isDir) {
                return byText(a.displayName, b.displayName);
            }
            if (a.sizeText.size() != b.sizeText.size()) {
                return a.sizeText.size() > b.sizeText.size() ? 1 : -1;
            }
            return byText(a.sizeText + a.displayName, b.sizeText + b.displayName);
        case 2:
            if (a.isDir) {
                return byText(a.displayName, b.displayName);
            }
            return byText(a.typeName + a.displayName, b.typeName + b.displayName);
        default:
            // Newest first. Equal times compare as equal so that the order is a strict one.
            if (a.modified == b.modified) {
                return 0;
            }
            return b.modified > a.modified ? 1 : -1;
    }
}

TFileItem GetFileInfo(const QFileInfo& info) {
    static const QMimeDatabase mimes;
    static const QFileIconProvider icons;
    TFileItem item;
    item.displayName = info.fileName();
    item.isDir = info.isDir();
    // The type by name only: reading every file's content would make large folders slow.
    item.typeName = item.isDir
                        ? mimes.mimeTypeForName(QStringLiteral("inode/directory")).comment()
                        : mimes.mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
    item.icon = icons.icon(info);
    return item;
}

std::vector<TFileItem> ListFolder(const QString& folder, int64_t& total) {
    total = 0;
    std::vector<TFileItem> items;
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    items.reserve(entries.size());
    for (const QFileInfo& info : entries) {
        TFileItem item = GetFileInfo(info);
        item.fullPath = folder + info.fileName();
        item.modified = info.lastModified();
        item.modifiedText = ModifiedText(item.modified);
        if (!item.isDir) {
            item.sizeText = SizeColumnText(info.size());
            total += info.size();
        }
        items.push_back(std::move(item));
    }
    return items;
}

TFileListView::TFileListView(QWidget* parent)
    : QStackedWidget(parent),
      model_(new QStandardItemModel(0, 4, this)),
      selection_(new QItemSelectionModel(model_, this)),
      report_(new QTreeView(this)),
      icons_(new QListView(this)) {
    model_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Größe"),
                                       QStringLiteral("Typ"), QStringLiteral("Geändert am")});
    model_->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    model_->horizontalHeaderItem(3)->setTextAlignment(Qt::AlignCenter);
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(report_), static_cast<QAbstractItemView*>(icons_)}) {
        view->setModel(model_);
        view->setSelectionModel(selection_);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this, [this] { emit DoubleClicked(); });
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& p) {
            emit ContextMenuRequested(view->viewport()->mapToGlobal(p));
        });
        addWidget(view);
    }
    report_->setRootIsDecorated(false);
    report_->setUniformRowHeights(true);
    report_->setSelectionBehavior(QAbstractItemView::SelectRows);
    report_->setAllColumnsShowFocus(true);
    report_->setSortingEnabled(false);
    report_->header()->setSectionsClickable(true);
    report_->header()->setStretchLastSection(false);
    connect(report_->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { emit ColumnClicked(column); });
    icons_->setResizeMode(QListView::Adjust);
    icons_->setMovement(QListView::Static);
    icons_->setWrapping(true);
    icons_->setUniformItemSizes(true);
    connect(selection_, &QItemSelectionModel::selectionChanged, this,
            [this] { emit SelectionChanged(); });
    SetViewStyle(TViewStyle::vsReport);
}

void TFileListView::SetViewStyle(TViewStyle style) {
    style_ = style;
    const int small = report_->style()->pixelMetric(QStyle::PM_SmallIconSize);
    const int large = report_->style()->pixelMetric(QStyle::PM_LargeIconSize);
    switch (style) {
        case TViewStyle::vsIcon:
            icons_->setViewMode(QListView::IconMode);
            icons_->setIconSize({large, large});
            icons_->setGridSize({large * 3, large * 2 + small});
            icons_->setWordWrap(true);
            setCurrentWidget(icons_);
            break;
        case TViewStyle::vsList:
            icons_->setViewMode(QListView::ListMode);
            icons_->setFlow(QListView::TopToBottom);
            icons_->setWrapping(true);
            icons_->setIconSize({small, small});
            icons_->setGridSize({});
            icons_->setWordWrap(false);
            setCurrentWidget(icons_);
            break;
        case TViewStyle::vsReport:
            report_->setIconSize({small, small});
            setCurrentWidget(report_);
            break;
    }
}

void TFileListView::SetItems(std::vector<TFileItem> items) {
    model_->removeRows(0, model_->rowCount());
    items_ = std::move(items);
    for (size_t i = 0; i < items_.size(); ++i) {
        const TFileItem& f = items_[i];
        auto* name = new TFileListItem(items_, i, sortColumn_);
        name->setText(f.displayName);
        name->setIcon(f.icon);
        name->setToolTip(f.fullPath);
        auto* size = new QStandardItem(f.sizeText);
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* type = new QStandardItem(f.typeName);
        auto* time = new QStandardItem(f.modifiedText);
        time->setTextAlignment(Qt::AlignCenter);
        model_->appendRow({name, size, type, time});
    }
}

void TFileListView::Sort(int column) {
    sortColumn_ = column;
    model_->sort(0);
}

int TFileListView::Count() const {
    return model_->rowCount();
}

const TFileItem& TFileListView::Item(int row) const {
    return items_[model_->item(row, 0)->data(kItemIndexRole).toULongLong()];
}

bool TFileListView::IsSelected(int row) const {
    return selection_->isSelected(model_->index(row, 0));
}

int TFileListView::SelectedCount() const {
    return static_cast<int>(SelectedRows().size());
}

std::vector<int> TFileListView::SelectedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < Count(); ++row) {
        if (IsSelected(row)) {
            rows.push_back(row);
        }
    }
    return rows;
}

void TFileListView::Select(int row) {
    selection_->select(model_->index(row, 0),
                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TFileListView::SelectAll() {
    if (Count() == 0) {
        return;
    }
    selection_->select(QItemSelection(model_->index(0, 0), model_->index(Count() - 1, 3)),
                       QItemSelectionModel::Select);
}

void TFileListView::ClearSelection() {
    selection_->clearSelection();
}

void TFileListView::SelectFirst() {
    if (Count() > 0) {
        selection_->setCurrentIndex(
            model_->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

std::vector<int> TFileListView::RowsWithPath(const QString& path) const {
    std::vector<int> rows;
    for (int row = 0; row < Count(); ++row) {
        if (Item(row).fullPath == path) {
            rows.push_back(row);
        }
    }
    return rows;
}

QWidget* TFileListView::ActiveView() const {
    return currentWidget();
}

void TFileListView::SetColumnWidths(int name, int size, int type, int modified) {
    report_->setColumnWidth(0, name);
    report_->setColumnWidth(1, size);
    report_->setColumnWidth(2, type);
    report_->setColumnWidth(3, modified);
}

bool TFileListView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        (watched == report_->viewport() || watched == icons_->viewport())) {
        emit Clicked();
    } else if (event->type() == QEvent::KeyRelease && (watched == report_ || watched == icons_)) {
        emit KeyReleased();
    }
    return QStackedWidget::eventFilter(watched, event);
}
