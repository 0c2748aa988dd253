// The main window with an archive of a million entries: the list shows every
// entry, sorts by name and by size, and a selected row keeps its entry
// through a re-sort. The archive is written in the test's folder by a small
// writer (stored files of 0 to 4 bytes, one of 64), in an order that is not
// the names' order, so that each sort has real work to do.
#include <QItemSelectionModel>
#include <QTreeView>
#include <cstdio>

#include "MainWindowTestSupport.h"
#include "tests/ManyEntriesZip.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every allocation costs several times as much.
constexpr std::uint64_t kEntries = 200000;
#else
constexpr std::uint64_t kEntries = 1000000;
#endif
// Entry i holds name number (i * kStep) % kEntries: coprime to both counts,
// so every number occurs once.
constexpr std::uint64_t kStep = 7919;
constexpr std::uint64_t kLargest = 123456;  // the one entry of 64 bytes

QString nameOf(std::uint64_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "d%03u/f%07u.txt", static_cast<unsigned>(k / 1000),
                  static_cast<unsigned>(k));
    return QString::fromLatin1(name);
}

std::uint32_t sizeOf(std::uint64_t k) {
    return k == kLargest ? 64 : static_cast<std::uint32_t>(k % 5);
}

}  // namespace

class ManyEntriesWindowTest : public QObject {
    Q_OBJECT

private:
    TMainWindowFixture f_;

private slots:
    void initTestCase() {
        f_.Install();
#if defined(__SANITIZE_ADDRESS__)
        qInfo("AddressSanitizer: %llu entries instead of a million",
              static_cast<unsigned long long>(kEntries));
#endif
    }

    void millionEntriesListedSortedAndSelected() {
        const QString archive = f_.path(QStringLiteral("many.zip"));
        const auto number = [](std::uint64_t i) { return (i * kStep) % kEntries; };
        QVERIFY(manyentries::Write(
            archive.toStdString(), kEntries,
            [&](std::uint64_t i) { return nameOf(number(i)).toStdString(); },
            [&](std::uint64_t i) { return sizeOf(number(i)); }));

        TfrmMain w;
        w.show();
        w.OeffneArchiv(archive);
        QCoreApplication::processEvents();
        const TArchiveListModel& m = w.Model();
        const int n = static_cast<int>(kEntries);
        QCOMPARE(m.rowCount(), n);
        QCOMPARE(w.StatusPanel(0)->text(), QString::number(n) + QStringLiteral(" Dateien"));
        QVERIFY(f_.messages.isEmpty());

        struct TRow {
            int row;
            std::uint64_t number;  // the name number shown there
        };
        struct TCase {
            int column;
            std::vector<TRow> rows;
        };
        const std::uint64_t last = kEntries - 1;  // ends in 9 or 4: four bytes
        const TCase cases[] = {
            // By name: the numbers in order (zero-padded, one folder per thousand).
            {0, {{0, 0}, {1, 1}, {n / 2, kEntries / 2}, {n - 1, last}}},
            // By uncompressed size: equal sizes by name; the 64-byte entry last.
            {2, {{0, 0}, {1, 5}, {n - 2, last}, {n - 1, kLargest}}},
            // By packed size: the same for stored entries.
            {1, {{0, 0}, {n - 1, kLargest}}},
            {0, {{0, 0}, {n - 1, last}}},
        };
        for (const TCase& c : cases) {
            w.ListView1ColumnClick(c.column);
            QCOMPARE(m.rowCount(), n);
            for (const TRow& r : c.rows) {
                QCOMPARE(m.CellText(r.row, 0), nameOf(r.number));
                const std::uint32_t size = sizeOf(r.number);
                QCOMPARE(m.CellText(r.row, 2),
                         size == 0 ? QString() : TArchiveListModel::SizeCellText(size));
            }
        }

        // A selected row keeps its entry through sorts by other columns.
        const int picked = 654321 % n;
        QItemSelectionModel* sel = w.ListView1()->selectionModel();
        sel->select(m.index(picked, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(w.SelectedCaptions(), QStringList{nameOf(static_cast<std::uint64_t>(picked))});
        for (const int column : {2, 3, 0}) {
            w.ListView1ColumnClick(column);
            QCOMPARE(w.SelectedCaptions(), QStringList{nameOf(static_cast<std::uint64_t>(picked))});
        }
        QCOMPARE(sel->selectedRows(0).size(), 1);
        QCOMPARE(sel->selectedRows(0).front().row(), picked);
        QFile::remove(archive);
    }
};

QTEST_MAIN(ManyEntriesWindowTest)
#include "ManyEntriesWindowTest.moc"
