// The entries of the open archive as the main window's five-column list:
// "Dateiname", "Gepackt", "Ungepackt", "Geändert am", "Packrate". Texts are
// made when a row is shown; sorting uses the values the texts are made from,
// in the order the texts themselves would give (see sortRows).
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QMimeData;
class TNameKeys;

struct TArchiveRow {
    std::int64_t CompressedSize = 0;
    std::int64_t UncompressedSize = 0;
    std::uint32_t DosDateTime = 0;
};

// The rows of one fill, in the component's order. Names are kept as the
// component's UTF-8 bytes, one after the other, until a row is shown.
class TArchiveRows {
public:
    // Room for `count` rows whose names take about `nameBytes` bytes.
    void Reserve(std::size_t count, std::size_t nameBytes);
    void Add(std::string_view name, std::int64_t compressed, std::int64_t uncompressed,
             std::uint32_t dosDateTime);
    std::size_t Size() const { return rows_.size(); }

private:
    friend class TArchiveListModel;
    std::vector<TArchiveRow> rows_;
    std::string names_;
    std::vector<std::size_t> nameStarts_{0};  // name i is names_[starts[i], starts[i + 1])
};

class TArchiveListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumns = 5;

    explicit TArchiveListModel(QObject* parent = nullptr);
    ~TArchiveListModel() override;

    // Replaces all rows and sorts them by `column`.
    void SetRows(TArchiveRows rows, int column);
    void Clear();
    // Sorts by one column; each column has one fixed direction.
    void SortByColumn(int column);
    const TArchiveRow& Row(int row) const { return rows_.rows_[entry(row)]; }
    // The stored name of the entry in `row`, folder part included.
    std::string_view FileNameUtf8(int row) const;
    QString FileName(int row) const;

    // The cell texts, exactly as shown.
    static QString SizeCellText(std::int64_t size);
    static QString DateCellText(std::uint32_t dosDateTime);
    static QString RatioCellText(std::int64_t compressed, std::int64_t uncompressed);
    QString CellText(int row, int column) const;

    // Column captions and alignments.
    static QString ColumnCaption(int column);
    static Qt::Alignment ColumnAlignment(int column);

    // Dragging entries out: the data for the drop target are made by the
    // window, which owns the component (it extracts the rows' entries); rows
    // can be dragged only while a handler is set.
    using TDragHandler = std::function<QMimeData*(const std::vector<int>& rows)>;
    void SetDragHandler(TDragHandler handler) { dragHandler_ = std::move(handler); }
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    // The entry (its number in the component's order) shown in `row`.
    std::size_t entry(int row) const { return order_[static_cast<std::size_t>(row)]; }
    QIcon iconFor(std::string_view name) const;
    // The collation keys of all names, made when a sort first needs them.
    const TNameKeys& nameKeys();
    // Sorts the rows and returns, when wanted, for each new position the
    // row's old position.
    std::vector<int> sortRows(int column, bool wantOldPositions);

    TArchiveRows rows_;
    std::vector<std::uint32_t> order_;  // the entries in list order
    std::unique_ptr<TNameKeys> nameKeys_;
    mutable QHash<QString, QIcon> iconCache_;
    TDragHandler dragHandler_;
};
