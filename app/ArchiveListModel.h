// The entries of the open archive as the main window's five-column list:
// "Dateiname", "Gepackt", "Ungepackt", "Geändert am", "Packrate". Texts are
// made when a row is shown; sorting uses the values the texts are made from,
// in the order the texts themselves would give (see CompareArchiveItems).
#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QHash>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <vector>

struct TArchiveRow {
    QString FileName;  // the stored name, folder part included
    std::int64_t CompressedSize = 0;
    std::int64_t UncompressedSize = 0;
    std::uint32_t DosDateTime = 0;
};

class TArchiveListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumns = 5;

    explicit TArchiveListModel(QObject* parent = nullptr);

    // Replaces all rows (in the component's order) and sorts them by `column`.
    void SetRows(std::vector<TArchiveRow> rows, int column);
    void Clear();
    // Sorts by one column; each column has one fixed direction.
    void SortByColumn(int column);
    const TArchiveRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

    // The cell texts, exactly as shown.
    static QString SizeCellText(std::int64_t size);
    static QString DateCellText(std::uint32_t dosDateTime);
    static QString RatioCellText(std::int64_t compressed, std::int64_t uncompressed);
    QString CellText(int row, int column) const;

    // Column captions and alignments.
    static QString ColumnCaption(int column);
    static Qt::Alignment ColumnAlignment(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QIcon iconFor(const QString& name) const;
    // Sorts rows_ and returns, for each new position, the row's old position.
    std::vector<int> sortRows(int column);

    std::vector<TArchiveRow> rows_;
    mutable QHash<QString, QIcon> iconCache_;
};
