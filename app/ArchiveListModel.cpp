#include "app/ArchiveListModel.h"

#include <QApplication>
#include <QCollatorSortKey>
#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QStyle>
#include <QTime>
#include <algorithm>
#include <numeric>

#include "app/Global.h"
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

std::int64_t sizeKey(std::int64_t size) {
    return size > 0 ? size : 0;
}

}  // namespace

TArchiveListModel::TArchiveListModel(QObject* parent) : QAbstractTableModel(parent) {}

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
            return r.FileName;
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

void TArchiveListModel::SetRows(std::vector<TArchiveRow> rows, int column) {
    beginResetModel();
    rows_ = std::move(rows);
    sortRows(column);
    endResetModel();
}

void TArchiveListModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void TArchiveListModel::SortByColumn(int column) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<int> oldPos = sortRows(column);
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

std::vector<int> TArchiveListModel::sortRows(int column) {
    const std::size_t n = rows_.size();
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    auto row = [this](int i) -> const TArchiveRow& { return rows_[static_cast<std::size_t>(i)]; };

    // Names compare like the system's locale-aware, case-sensitive string
    // comparison; sort keys make that affordable for large archives.
    std::vector<QCollatorSortKey> nameKeys;
    if (column == 0 || column == 1 || column == 2) {
        QCollator collator{QLocale()};
        collator.setCaseSensitivity(Qt::CaseSensitive);
        nameKeys.reserve(n);
        for (const TArchiveRow& r : rows_) {
            nameKeys.push_back(collator.sortKey(r.FileName));
        }
    }
    auto nameCmp = [&nameKeys](int a, int b) {
        return nameKeys[static_cast<std::size_t>(a)].compare(nameKeys[static_cast<std::size_t>(b)]);
    };

    switch (column) {
        case 1:
        case 2: {
            // A longer size text is the larger number and equal texts fall back
            // to the name, so this is: size ascending (no size first), then name.
            const bool packed = column == 1;
            auto size = [&](int i) {
                return sizeKey(packed ? row(i).CompressedSize : row(i).UncompressedSize);
            };
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                const auto sa = size(a), sb = size(b);
                if (sa != sb) {
                    return sa < sb;
                }
                return nameCmp(a, b) < 0;
            });
            break;
        }
        case 3:
            // Newest first; equal times keep their order.
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                return dateKey(row(a).DosDateTime) > dateKey(row(b).DosDateTime);
            });
            break;
        case 4:
            std::stable_sort(order.begin(), order.end(),
                             [&](int a, int b) { return ratioKey(row(a)) < ratioKey(row(b)); });
            break;
        default:
            std::stable_sort(order.begin(), order.end(),
                             [&](int a, int b) { return nameCmp(a, b) < 0; });
            break;
    }
    std::vector<TArchiveRow> sorted;
    sorted.reserve(n);
    for (int i : order) {
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(i)]));
    }
    rows_.swap(sorted);
    return order;
}

int TArchiveListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
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
                return iconFor(Row(index.row()).FileName);
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

QIcon TArchiveListModel::iconFor(const QString& name) const {
    // By the name's extension alone, never touching the disk.
    const bool folder = name.endsWith('/') || name.endsWith('\\');
    QString key;
    if (folder) {
        key = QStringLiteral("/");
    } else {
        const qsizetype slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
        const qsizetype dot = name.lastIndexOf('.');
        key = dot > slash ? name.mid(dot + 1).toLower() : QString();
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
