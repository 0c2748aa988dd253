// Keeping the entry list's selection, current entry and scroll position when
// the component refills the list (after an extract, a view, an add): the
// entries that are still there stay selected and the list stays where it was.
#include <QItemSelection>
#include <QScrollBar>
#include <QTreeView>
#include <string>
#include <unordered_map>

#include "app/UniMain.h"

TfrmMain::TListState TfrmMain::saveListState() const {
    TListState state;
    state.archive = listArchive_;
    for (const QModelIndex& i : listView_->selectionModel()->selectedRows(0)) {
        ++state.selected[std::string(model_->FileNameUtf8(i.row()))];
    }
    const QModelIndex current = listView_->currentIndex();
    if (current.isValid()) {
        state.current = model_->FileNameUtf8(current.row());
        state.hasCurrent = true;
    }
    const QModelIndex top = listView_->indexAt(QPoint(0, 0));
    if (top.isValid()) {
        state.top = model_->FileNameUtf8(top.row());
        state.hasTop = true;
    }
    state.horizontal = listView_->horizontalScrollBar()->value();
    return state;
}

void TfrmMain::restoreListState(TListState state) {
    listArchive_ = ArchiveName();
    if (state.archive != listArchive_ || model_->rowCount() == 0) {
        return;  // another archive: nothing to keep
    }
    QItemSelection selection;
    int currentRow = -1;
    int topRow = -1;
    const int rows = model_->rowCount();
    const int lastColumn = TArchiveListModel::kColumns - 1;
    int runStart = -1;
    for (int row = 0; row <= rows; ++row) {
        bool selected = false;
        if (row < rows) {
            const std::string_view name = model_->FileNameUtf8(row);
            if (!state.selected.empty()) {
                // Equal names (an archive may hold two) are matched one by one.
                auto it = state.selected.find(std::string(name));
                if (it != state.selected.end() && it->second > 0) {
                    --it->second;
                    selected = true;
                }
            }
            if (state.hasCurrent && currentRow < 0 && name == state.current) {
                currentRow = row;
            }
            if (state.hasTop && topRow < 0 && name == state.top) {
                topRow = row;
            }
        }
        // Contiguous rows go in as one range: selecting 100,000 rows one by
        // one would take longer than filling the list.
        if (selected && runStart < 0) {
            runStart = row;
        } else if (!selected && runStart >= 0) {
            selection.select(model_->index(runStart, 0), model_->index(row - 1, lastColumn));
            runStart = -1;
        }
    }
    QItemSelectionModel* sel = listView_->selectionModel();
    if (currentRow >= 0) {
        sel->setCurrentIndex(model_->index(currentRow, 0), QItemSelectionModel::NoUpdate);
    }
    if (!selection.isEmpty()) {
        sel->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    if (topRow >= 0) {
        listView_->scrollTo(model_->index(topRow, 0), QAbstractItemView::PositionAtTop);
    }
    listView_->horizontalScrollBar()->setValue(state.horizontal);
}
