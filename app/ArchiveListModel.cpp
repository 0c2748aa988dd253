#include "app/ArchiveListModel.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QMimeData>
#include <QMimeDatabase>
#include <QStyle>
#include <QTime>
#include <algorithm>
#include <cstring>
#include <string>

#include "app/Global.h"
#include "app/NameKeys.h"
#include "platform/DosTime.h"

namespace {

// The date column orders by minute: the shown text has no seconds.
std::uint32_t dateKey(std::uint32_t dos) {
    return platform::IsValidDosDateTime(dos) ? (dos & ~std::uint32_t{0x1F}) : 0;
}

// The whole percentage the "Packrate" text starts with (0 when it has none).
long long ratioKey(const TArchiveRow& r) {
    if (r.CompressedSize <= 0 || r.UncompressedSize <= 0) {
        return 0;
    }
    return std::llround(100.0 * static_cast<double>(r.CompressedSize) /
                        static_cast<double>(r.UncompressedSize));
}

std::uint64_t sizeKey(std::int64_t size) {
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

}  // namespace

void TArchiveRows::Reserve(std::size_t count, std::size_t nameBytes) {
    rows_.reserve(count);
    nameStarts_.reserve(count + 1);
    names_.reserve(nameBytes);
}

void TArchiveRows::Add(std::string_view name, std::int64_t compressed, std::int64_t uncompressed,
                       std::uint32_t dosDateTime) {
    TArchiveRow row;
    row.CompressedSize = compressed;
    row.UncompressedSize = uncompressed;
    row.DosDateTime = dosDateTime;
    rows_.push_back(row);
    names_.append(name);
    nameStarts_.push_back(names_.size());
}

TArchiveListModel::TArchiveListModel(QObject* parent) : QAbstractTableModel(parent) {}

TArchiveListModel::~TArchiveListModel() = default;

std::string_view TArchiveListModel::FileNameUtf8(int row) const {
    const std::size_t e = entry(row);
    const std::size_t start = rows_.nameStarts_[e];
    return std::string_view(rows_.names_).substr(start, rows_.nameStarts_[e + 1] - start);
}

QString TArchiveListModel::FileName(int row) const {
    const std::string_view name = FileNameUtf8(row);
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QString TArchiveListModel::ColumnCaption(int column) {
    static const char* const kCaptions[kColumns] = {"Dateiname", "Gepackt", "Ungepackt",
                                                    "Geändert am", "Packrate"};
    return column >= 0 && column < kColumns ? QString::fromUtf8(kCaptions[column]) : QString();
}

Qt::Alignment TArchiveListModel::ColumnAlignment(int column) {
    switch (column) {
        case 1:
        case 2:
        case 4:
            return Qt::AlignRight | Qt::AlignVCenter;
        case 3:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

QString TArchiveListModel::SizeCellText(std::int64_t size) {
    if (size <= 0) {
        return {};
    }
    return QLocale().toString(static_cast<qlonglong>(size)) + QStringLiteral(" Byte");
}

QString TArchiveListModel::DateCellText(std::uint32_t dosDateTime) {
    const auto parts = platform::DecodeDosDateTime(dosDateTime);
    if (!parts) {
        return {};
    }
    const QDate date(parts->year, parts->month, parts->day);
    const QTime time(parts->hour, parts->minute, parts->second);
    return date.toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral("  ") +
           QLocale().toString(time, QLocale::ShortFormat);
}

QString TArchiveListModel::RatioCellText(std::int64_t compressed, std::int64_t uncompressed) {
    if (compressed <= 0 || uncompressed <= 0) {
        return {};
    }
    const double ratio =
        100.0 / (static_cast<double>(uncompressed) / static_cast<double>(compressed));
    return FormatPicture(ratio, 0, false) + QStringLiteral(" %  ");
}

QString TArchiveListModel::CellText(int row, int column) const {
    if (row < 0 || row >= rowCount()) {
        return {};
    }
    const TArchiveRow& r = Row(row);
    switch (column) {
        case 0:
            return FileName(row);
        case 1:
            return SizeCellText(r.CompressedSize);
        case 2:
            return SizeCellText(r.UncompressedSize);
        case 3:
            return DateCellText(r.DosDateTime);
        case 4:
            return RatioCellText(r.CompressedSize, r.UncompressedSize);
        default:
            return {};
    }
}

void TArchiveListModel::SetRows(TArchiveRows rows, int column) {
    beginResetModel();
    nameKeys_.reset();  // it borrows the names
    rows_ = std::move(rows);
    order_.resize(rows_.Size());
    for (std::size_t i = 0; i < order_.size(); ++i) {
        order_[i] = static_cast<std::uint32_t>(i);
    }
    sortRows(column, false);
    endResetModel();
}

void TArchiveListModel::Clear() {
    beginResetModel();
    nameKeys_.reset();
    rows_ = TArchiveRows();
    order_.clear();
    endResetModel();
}

void TArchiveListModel::SortByColumn(int column) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<int> oldPos = sortRows(column, true);
    // The selection (persistent indexes) follows its rows.
    std::vector<int> newPos(oldPos.size());
    for (std::size_t n = 0; n < oldPos.size(); ++n) {
        newPos[static_cast<std::size_t>(oldPos[n])] = static_cast<int>(n);
    }
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
        to.append(index(newPos[static_cast<std::size_t>(i.row())], i.column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const TNameKeys& TArchiveListModel::nameKeys() {
    if (!nameKeys_) {
        // Names compare like the system's locale-aware, case-sensitive
        // string comparison.
        nameKeys_ = std::make_unique<TNameKeys>(QLocale(), rows_.names_, rows_.nameStarts_);
    }
    return *nameKeys_;
}

std::vector<int> TArchiveListModel::sortRows(int column, bool wantOldPositions) {
    const std::size_t n = order_.size();
    // Each row's key for the column and its current position: sorting these
    // pairs is a stable sort by the key, without calling back per comparison.
    std::vector<TNameKeys::TItem> items(n);
    for (std::size_t i = 0; i < n; ++i) {
        const TArchiveRow& r = rows_.rows_[order_[i]];
        std::uint64_t key = 0;
        switch (column) {
            case 1:
                key = sizeKey(r.CompressedSize);
                break;
            case 2:
                key = sizeKey(r.UncompressedSize);
                break;
            case 3:
                key = ~std::uint64_t{dateKey(r.DosDateTime)};  // newest first
                break;
            case 4:
                key = static_cast<std::uint64_t>(ratioKey(r));
                break;
            default:
                break;
        }
        items[i] = {key, order_[i], static_cast<std::uint32_t>(i)};
    }

    if (n > 1 && (column <= 0 || column >= kColumns)) {
        nameKeys().Sort(items.data(), items.data() + n);
    } else if (n > 1) {
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return a.chunk != b.chunk ? a.chunk < b.chunk : a.position < b.position;
        });
        if (column == 1 || column == 2) {
            // A longer size text is the larger number and equal texts fall back
            // to the name: so equal sizes are ordered by name.
            auto first = items.begin();
            while (first != items.end()) {
                auto last = first + 1;
                while (last != items.end() && last->chunk == first->chunk) {
                    ++last;
                }
                if (last - first > 1) {
                    nameKeys().Sort(&*first, &*first + (last - first));
                }
                first = last;
            }
        }
    }

    std::vector<int> oldPositions(wantOldPositions ? n : 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (wantOldPositions) {
            oldPositions[i] = static_cast<int>(items[i].position);
        }
        order_[i] = items[i].key;
    }
    return oldPositions;
}

int TArchiveListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int TArchiveListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant TArchiveListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return CellText(index.row(), index.column());
        case Qt::TextAlignmentRole:
            return static_cast<int>(ColumnAlignment(index.column()));
        case Qt::DecorationRole:
            if (index.column() == 0) {
                return iconFor(FileNameUtf8(index.row()));
            }
            return {};
        default:
            return {};
    }
}

QVariant TArchiveListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return ColumnCaption(section);
    }
    if (role == Qt::TextAlignmentRole) {
        return static_cast<int>(ColumnAlignment(section));
    }
    return {};
}

QIcon TArchiveListModel::iconFor(std::string_view name) const {
    // By the name's extension alone, never touching the disk.
    const bool folder = !name.empty() && (name.back() == '/' || name.back() == '\\');
    QString key;
    if (folder) {
        key = QStringLiteral("/");
    } else {
        const std::size_t slash = name.find_last_of("/\\");
        const std::size_t dot = name.rfind('.');
        if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
            const std::string_view ext = name.substr(dot + 1);
            key = QString::fromUtf8(ext.data(), static_cast<qsizetype>(ext.size())).toLower();
        }
    }
    auto it = iconCache_.constFind(key);
    if (it != iconCache_.constEnd()) {
        return *it;
    }
    QIcon icon;
    QStyle* style = QApplication::style();
    if (folder) {
        icon = QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirIcon));
    } else {
        const QIcon fallback = style->standardIcon(QStyle::SP_FileIcon);
        if (!key.isEmpty()) {
            const QMimeType mime = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + key,
                                                                   QMimeDatabase::MatchExtension);
            icon = QIcon::fromTheme(mime.iconName(),
                                    QIcon::fromTheme(mime.genericIconName(), fallback));
        } else {
            icon = fallback;
        }
    }
    iconCache_.insert(key, icon);
    return icon;
}

Qt::ItemFlags TArchiveListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && dragHandler_) {
        f |= Qt::ItemIsDragEnabled;
    }
    return f;
}

QStringList TArchiveListModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* TArchiveListModel::mimeData(const QModelIndexList& indexes) const {
    if (!dragHandler_) {
        return nullptr;
    }
    std::vector<int> rows;
    for (const QModelIndex& i : indexes) {
        if (i.isValid()) {
            rows.push_back(i.row());
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return dragHandler_(rows);
}
