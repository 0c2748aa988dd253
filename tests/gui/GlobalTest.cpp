// The shared helpers and the entry list's cell texts, as tables of cases.
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include "app/ArchiveListModel.h"
#include "app/Global.h"
#include "app/Loeschen.h"

class GlobalTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void formatSizeText_data() {
        QTest::addColumn<qint64>("n");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << qint64{-5} << "0 Byte";
        QTest::newRow("zero") << qint64{0} << "0 Byte";
        QTest::newRow("one") << qint64{1} << "1 Byte";
        QTest::newRow("1023") << qint64{1023} << "1023 Byte";
        QTest::newRow("1024") << qint64{1024} << "1 KB";
        QTest::newRow("1536") << qint64{1536} << "1,5 KB";
        QTest::newRow("rounds up") << qint64{1048575} << "1.024 KB";
        QTest::newRow("1 MB") << qint64{1048576} << "1 MB";
        QTest::newRow("1,25 MB") << qint64{1310720} << "1,25 MB";
        QTest::newRow("largest 32-bit") << qint64{2147483647} << "2.048 MB";
        // Archives of 2 GiB and more: the sums are 64-bit.
        QTest::newRow("3 GB") << qint64{3000000000} << "2.861,02 MB";
        QTest::newRow("over 4 GiB") << (qint64{5} << 30) << "5.120 MB";
        QTest::newRow("over 8 TiB") << (qint64{9} << 40) << "9.437.184 MB";
    }
    void formatSizeText() {
        QFETCH(qint64, n);
        QFETCH(QString, text);
        QCOMPARE(FormatSizeText(n), text);
    }

    void cellTexts() {
        struct TCase {
            QString actual;
            QString expected;
        };
        const TCase cases[] = {
            {TArchiveListModel::SizeCellText(0), ""},
            {TArchiveListModel::SizeCellText(-1), ""},
            {TArchiveListModel::SizeCellText(999), "999 Byte"},
            {TArchiveListModel::SizeCellText(1000), "1.000 Byte"},
            {TArchiveListModel::SizeCellText(5000000000LL), "5.000.000.000 Byte"},
            {TArchiveListModel::RatioCellText(50, 100), "50 %  "},
            {TArchiveListModel::RatioCellText(1, 1000), " %  "},  // rounds to 0: no digits
            {TArchiveListModel::RatioCellText(150, 100), "150 %  "},
            {TArchiveListModel::RatioCellText(0, 100), ""},
            {TArchiveListModel::RatioCellText(100, 0), ""},
            // 2024-03-14 09:30:00 as a DOS date-time.
            {TArchiveListModel::DateCellText((44u << 25) | (3u << 21) | (14u << 16) | (9u << 11) |
                                             (30u << 5)),
             "14.03.2024  09:30"},
            {TArchiveListModel::DateCellText(0), ""},  // no date
        };
        for (const TCase& c : cases) {
            QCOMPARE(c.actual, c.expected);
        }
    }

    void userLocale() {
        struct TCase {
            QLocale system;
            QString expected;
        };
        const TCase cases[] = {
            // No locale chosen: the program's own language.
            {QLocale::c(), "de_DE"},
            {QLocale(QStringLiteral("POSIX")), "de_DE"},
            // A chosen locale stays, also a foreign one.
            {QLocale(QLocale::German, QLocale::Austria), "de_AT"},
            {QLocale(QLocale::English, QLocale::UnitedStates), "en_US"},
        };
        for (const TCase& c : cases) {
            QCOMPARE(UserLocale(c.system).name(), c.expected);
        }
        // The separators a "C" environment gets.
        QCOMPARE(UserLocale(QLocale::c()).toString(5040), QStringLiteral("5.040"));
    }

    void versionText() {
        QCOMPARE(GetVersionText(1), QStringLiteral("1"));
        QCOMPARE(GetVersionText(2), QStringLiteral("1.9"));
        QCOMPARE(GetVersionText(4).count('.'), 3);
    }

    void folders() {
        QTemporaryDir tmp;
        const QString folder = tmp.filePath("a");
        QDir().mkpath(folder + "/b/c");
        QVERIFY(!IsFolderEmpty(folder));
        QVERIFY(IsFolderEmpty(folder + "/b/c"));
        QVERIFY(!IsFolderEmpty(tmp.filePath("fehlt")));
        QFile f(folder + "/b/c/.versteckt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(!IsFolderEmpty(folder + "/b/c"));
        QVERIFY(DeleteFolder(folder + "/"));
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(!DeleteFolder(folder));  // gone already
        QVERIFY(!DeleteFolder(QStringLiteral("/")));
        QVERIFY(!DeleteFolder(QString()));
        QVERIFY(GetTempFolder().endsWith('/'));
    }
};

QTEST_MAIN(GlobalTest)
#include "GlobalTest.moc"
