#include "app/ArchiveListModel.h"

#include <unicode/ucol.h>
#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QStyle>
#include <QTime>
#include <algorithm>
#include <cstring>
#include <string>

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

// Sort keys of the locale's collation (case-sensitive: the tertiary
// strength), as the system's locale-aware string comparison orders names.
// All keys live in one buffer; the first eight bytes of each are kept with the
// item, so most comparisons never touch the buffer.
class TNameKeys {
public:
    explicit TNameKeys(const QLocale& locale) {
        UErrorCode status = U_ZERO_ERROR;
        collator_ = ucol_open(locale.name().toLatin1().constData(), &status);
        if (U_FAILURE(status)) {
            collator_ = nullptr;
        } else {
            ucol_setStrength(collator_, UCOL_TERTIARY);
        }
    }
    ~TNameKeys() {
        if (collator_ != nullptr) {
            ucol_close(collator_);
        }
    }
    TNameKeys(const TNameKeys&) = delete;
    TNameKeys& operator=(const TNameKeys&) = delete;

    // Appends the key of `name`; returns its first eight bytes as a number.
    std::uint64_t Add(const QString& name) {
        const std::size_t start = buffer_.size();
        if (collator_ != nullptr) {
            std::size_t room = static_cast<std::size_t>(name.size()) * 4 + 16;
            for (;;) {
                buffer_.resize(start + room);
                const int32_t n = ucol_getSortKey(
                    collator_, reinterpret_cast<const UChar*>(name.utf16()),
                    static_cast<int32_t>(name.size()),
                    reinterpret_cast<uint8_t*>(buffer_.data() + start), static_cast<int32_t>(room));
                if (n > 0 && static_cast<std::size_t>(n) <= room) {
                    buffer_.resize(start + static_cast<std::size_t>(n));
                    break;
                }
                room = n > 0 ? static_cast<std::size_t>(n) : room * 2;
            }
        } else {
            // Without a collation the UTF-16 code units order the names.
            for (QChar c : name) {
                buffer_.push_back(static_cast<char>(c.unicode() >> 8));
                buffer_.push_back(static_cast<char>(c.unicode() & 0xFF));
            }
        }
        starts_.push_back(start);
        ends_.push_back(buffer_.size());
        std::uint64_t prefix = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const std::size_t at = start + i;
            prefix = (prefix << 8) |
                     (at < buffer_.size() ? static_cast<unsigned char>(buffer_[at]) : 0u);
        }
        return prefix;
    }
    std::size_t Size() const { return starts_.size(); }
    // Compares the whole keys number a and b.
    int Compare(std::size_t a, std::size_t b) const {
        const std::size_t la = ends_[a] - starts_[a];
        const std::size_t lb = ends_[b] - starts_[b];
        const int c =
            std::memcmp(buffer_.data() + starts_[a], buffer_.data() + starts_[b], std::min(la, lb));
        if (c != 0) {
            return c;
        }
        return la < lb ? -1 : (la > lb ? 1 : 0);
    }

private:
    UCollator* collator_ = nullptr;
    std::string buffer_;
    std::vector<std::size_t> starts_;
    std::vector<std::size_t> ends_;
};

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
    // Each row's key for the column, then its old position: sorting these
    // pairs is a stable sort by the key, without calling back per comparison.
    struct TItem {
        std::uint64_t key;
        int index;
        bool operator<(const TItem& o) const {
            return key != o.key ? key < o.key : index < o.index;
        }
    };
    std::vector<TItem> items(n);
    for (std::size_t i = 0; i < n; ++i) {
        const TArchiveRow& r = rows_[i];
        std::uint64_t key = 0;
        switch (column) {
            case 1:
                key = static_cast<std::uint64_t>(sizeKey(r.CompressedSize));
                break;
            case 2:
                key = static_cast<std::uint64_t>(sizeKey(r.UncompressedSize));
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
        items[i] = {key, static_cast<int>(i)};
    }

    // Names compare like the system's locale-aware, case-sensitive string
    // comparison.
    TNameKeys keys{QLocale()};
    auto sortByName = [this, &keys](std::vector<TItem>::iterator first,
                                    std::vector<TItem>::iterator last) {
        struct TNamed {
            std::uint64_t prefix;
            std::size_t key;
            int index;
        };
        std::vector<TNamed> named;
        named.reserve(static_cast<std::size_t>(last - first));
        for (auto it = first; it != last; ++it) {
            const std::uint64_t prefix =
                keys.Add(rows_[static_cast<std::size_t>(it->index)].FileName);
            named.push_back({prefix, keys.Size() - 1, it->index});
        }
        std::sort(named.begin(), named.end(), [&keys](const TNamed& a, const TNamed& b) {
            if (a.prefix != b.prefix) {
                return a.prefix < b.prefix;
            }
            const int c = keys.Compare(a.key, b.key);
            return c != 0 ? c < 0 : a.index < b.index;
        });
        auto out = first;
        for (const TNamed& n : named) {
            (out++)->index = n.index;
        }
    };

    if (column == 0 || column < 0 || column >= kColumns) {
        sortByName(items.begin(), items.end());
    } else {
        std::sort(items.begin(), items.end());
        if (column == 1 || column == 2) {
            // A longer size text is the larger number and equal texts fall back
            // to the name: so equal sizes are ordered by name.
            auto first = items.begin();
            while (first != items.end()) {
                auto last = first + 1;
                while (last != items.end() && last->key == first->key) {
                    ++last;
                }
                if (last - first > 1) {
                    sortByName(first, last);
                }
                first = last;
            }
        }
    }

    std::vector<int> order(n);
    std::vector<TArchiveRow> sorted;
    sorted.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = items[i].index;
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(items[i].index)]));
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
