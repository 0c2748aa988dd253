// The add dialog's file list: the entries of one folder in three view styles (large icons,
// list, details with four columns), sorted by the dialog's sort rules.
#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QIcon>
#include <QStackedWidget>
#include <QString>

#include <cstdint>
#include <vector>

class QListView;
class QStandardItemModel;
class QItemSelectionModel;
class QTreeView;

// One folder entry as the list shows it.
struct TFileItem {
    QString displayName;  // the caption
    QString sizeText;     // empty for folders
    QString typeName;
    QString modifiedText;
    QDateTime modified;  // for sorting by time
    bool isDir = false;  // the kind marker: "dir" or "file"
    QString fullPath;    // the listed folder followed by the entry's file name
    QIcon icon;
};

// Texts of the size column and the status bar, and of the time column.
QString SizeColumnText(int64_t size);              // "0 KB", "1 KB", "1.234 KB"
QString TotalSizeText(int64_t total);              // "", "12 Byte", "1,5 KByte", "2,25 MByte"
QString ModifiedText(const QDateTime& lastWrite);  // "dd.MM.yyyy  HH:mm" in local time

// The list's order: negative when `a` goes first. Folders come first in columns 0 to 3;
// column 0 sorts by name, 1 by the length of the size text and then the text, 2 by type,
// 3 newest first; any other column keeps the folder's own order.
int CompareFileItems(const TFileItem& a, const TFileItem& b, int column);

// Shell information of one entry: display name, type name and icon.
TFileItem GetFileInfo(const QFileInfo& info);

// Lists `folder` (which ends with "/"): every entry but "." and "..", hidden ones included.
// `total` receives the sum of the file sizes.
std::vector<TFileItem> ListFolder(const QString& folder, int64_t& total);

enum class TViewStyle { vsIcon, vsList, vsReport };

class TFileListView : public QStackedWidget {
    Q_OBJECT

public:
    explicit TFileListView(QWidget* parent = nullptr);

    void SetViewStyle(TViewStyle style);
    TViewStyle ViewStyle() const { return style_; }

    // Replaces all items; they are shown in the given order until the next Sort.
    void SetItems(std::vector<TFileItem> items);
    void Sort(int column);

    int Count() const;
    const TFileItem& Item(int row) const;
    bool IsSelected(int row) const;
    int SelectedCount() const;
    // Rows of the selected items, in list order.
    std::vector<int> SelectedRows() const;
    void Select(int row);
    void SelectAll();
    void ClearSelection();
    // Selects only the first item and makes it current.
    void SelectFirst();
    // Rows whose full path equals `path` exactly.
    std::vector<int> RowsWithPath(const QString& path) const;

    QTreeView* Report() const { return report_; }
    QListView* Icons() const { return icons_; }
    QWidget* ActiveView() const;
    QItemSelectionModel* SelectionModel() const { return selection_; }

    // Column widths of the details view.
    void SetColumnWidths(int name, int size, int type, int modified);

signals:
    void SelectionChanged();
    void Clicked();      // a mouse button was released over the list
    void KeyReleased();  // a key was released in the list
    void DoubleClicked();
    void ColumnClicked(int column);
    void ContextMenuRequested(const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QStandardItemModel* model_;
    QItemSelectionModel* selection_;
    QTreeView* report_;
    QListView* icons_;
    TViewStyle style_ = TViewStyle::vsReport;
    std::vector<TFileItem> items_;
    int sortColumn_ = 0;
};
