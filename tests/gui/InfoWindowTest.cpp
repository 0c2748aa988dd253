// The info window's layout at two resolutions, and the image sets chosen by resolution.
#include "GuiTestSupport.h"
#include "app/Global.h"
#include "app/ImageLists.h"
#include "app/Info.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class InfoWindowTest : public QObject {
    Q_OBJECT

private slots:
    void imageSetByDpi_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("set");
        QTest::addColumn<QSize>("toolbar");
        QTest::addColumn<int>("dialog");
        QTest::newRow("72") << 72 << 1 << QSize(92, 40) << 16;
        QTest::newRow("96") << 96 << 1 << QSize(92, 40) << 16;
        QTest::newRow("119") << 119 << 1 << QSize(92, 40) << 16;
        QTest::newRow("120") << 120 << 2 << QSize(115, 50) << 20;
        QTest::newRow("143") << 143 << 2 << QSize(115, 50) << 20;
        QTest::newRow("144") << 144 << 3 << QSize(138, 60) << 24;
        QTest::newRow("191") << 191 << 3 << QSize(138, 60) << 24;
        QTest::newRow("192") << 192 << 4 << QSize(184, 80) << 32;
        QTest::newRow("288") << 288 << 4 << QSize(184, 80) << 32;
    }
    void imageSetByDpi() {
        QFETCH(int, dpi);
        QFETCH(int, set);
        QFETCH(QSize, toolbar);
        QFETCH(int, dialog);
        QCOMPARE(ImageSetForDpi(dpi), set);
        QCOMPARE(ToolbarImageSize(dpi), toolbar);
        QCOMPARE(DialogImageSize(dpi), dialog);
        // Every image of the set is compiled in and has the set's size.
        for (int i = 0; i < kToolbarImageCount; ++i) {
            QCOMPARE(ToolbarImage(static_cast<TToolbarImage>(i), dpi).size(), toolbar);
        }
        for (int i = 0; i < kDialogImageCount; ++i) {
            QCOMPARE(DialogImage(static_cast<TDialogImage>(i), dpi).size(), QSize(dialog, dialog));
        }
    }

    void pictureSize_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("window");
        QTest::newRow("96") << 96 << QSize(600, 210) << QSize(760, 410);
        QTest::newRow("120") << 120 << QSize(750, 262) << QSize(950, 513);  // 262.5 to even
        QTest::newRow("144") << 144 << QSize(900, 315) << QSize(1140, 615);
    }
    void pictureSize() {
        QFETCH(int, dpi);
        QFETCH(QSize, picture);
        QFETCH(QSize, window);
        QCOMPARE(TfrmInfo::PictureSize(dpi), picture);
        TfrmInfo info(nullptr, dpi);
        QCOMPARE(info.size(), window);
        QCOMPARE(info.imgHintergrund->pixmap().size(), picture);
        QCOMPARE(info.imgHintergrund->size(), picture);
        QCOMPARE(info.shpFussleiste->geometry().bottom(), window.height() - 1);
        // The resampled picture keeps the window's orange at its border.
        const QImage img = info.imgHintergrund->pixmap().toImage();
        QCOMPARE(img.pixelColor(2, 2), QColor(255, 114, 19));
    }

    void versionLabelCentredAboveFooter_data() {
        QTest::addColumn<int>("dpi");
        QTest::newRow("96") << 96;
        QTest::newRow("144") << 144;
    }
    void versionLabelCentredAboveFooter() {
        QFETCH(int, dpi);
        TfrmInfo info(nullptr, dpi);
        info.show();
        QVERIFY(QTest::qWaitForWindowExposed(&info));
        QCOMPARE(info.lblVersion->text(), QStringLiteral("Version ") + GetVersionText(4));
        QVERIFY(QRegularExpression(QStringLiteral("^Version \\d+\\.\\d+\\.\\d+\\.\\d+$"))
                    .match(info.lblVersion->text())
                    .hasMatch());
        const QRect label = info.lblVersion->geometry();
        QVERIFY(qAbs(label.left() + label.width() / 2.0 - info.width() / 2.0) <= 1.0);
        QCOMPARE(label.top(), info.shpFussleiste->y() - label.height() - 15);
        QVERIFY(info.lblVersion->width() >=
                info.lblVersion->fontMetrics().horizontalAdvance(info.lblVersion->text()));
        SaveScreenshot(info, QStringLiteral("info-%1dpi").arg(dpi));
        QTest::mouseClick(info.btnOk, Qt::LeftButton);
        QVERIFY(!info.isVisible());
        QCOMPARE(info.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(InfoWindowTest)
#include "InfoWindowTest.moc"
