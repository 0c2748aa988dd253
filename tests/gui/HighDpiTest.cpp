// Images on high-density screens. CTest runs this test at Qt's scaling of
// 100, 125, 150 and 200 % (QT_SCALE_FACTOR): the logical resolution stays 96
// pixels per inch, and the image sets must follow the device pixels
// (96 x ratio), each drawn pixel for pixel at the logical size.
#include <QLabel>
#include <QToolButton>
#include <QtTest>
#include <cmath>

#include "GuiTestSupport.h"
#include "MainWindowTestSupport.h"
#include "app/ImageLists.h"
#include "app/Info.h"
#include "app/UniAdd.h"

namespace {

double scaleFactor() {
    bool ok = false;
    const double f = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok && f > 0 ? f : 1.0;
}

bool sameImage(const QPixmap& a, const QPixmap& b) {
    return a.toImage().convertToFormat(QImage::Format_ARGB32) ==
           b.toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

class HighDpiTest : public QObject {
    Q_OBJECT

private:
    TMainWindowFixture f_;

private slots:
    void initTestCase() { f_.Install(); }

    // The set for each ratio at 96 logical pixels per inch, and what a device
    // ratio that has no set of its own gets: the next smaller set, resampled.
    void setsByDeviceResolution() {
        struct TCase {
            double ratio;
            QSize toolbar;  // device pixels of a toolbar image
            int dialog;     // device pixels of a dialog image
            bool drawnAsStored;
        };
        const TCase cases[] =
            {
                {1.0, {92, 40}, 16, true},    {1.25, {115, 50}, 20, true},
                {1.5, {138, 60}, 24, true},   {2.0, {184, 80}, 32, true},
                {1.75, {161, 70}, 28, false},  // the 138 set, resampled to 161 x 70
            };
        for (const TCase& c : cases) {
            const int device = DeviceDpi(96, c.ratio);
            const QPixmap tb = ToolbarPixmap(tiEntpacken, 96, c.ratio);
            QCOMPARE(tb.size(), c.toolbar);
            QCOMPARE(tb.devicePixelRatio(), c.ratio);
            QCOMPARE(tb.deviceIndependentSize().toSize(), QSize(92, 40));
            QCOMPARE(sameImage(tb, ToolbarImage(tiEntpacken, device)), c.drawnAsStored);
            const QPixmap dlg = DialogPixmap(diSchloss, 96, c.ratio);
            QCOMPARE(dlg.size(), QSize(c.dialog, c.dialog));
            QCOMPARE(dlg.deviceIndependentSize().toSize(), QSize(16, 16));
            QCOMPARE(sameImage(dlg, DialogImage(diSchloss, device)), c.drawnAsStored);
        }
        // Logical resolution and ratio together: 120 dpi at 200 % uses the 184 set.
        QCOMPARE(ToolbarPixmap(tiInfo, 120, 2.0).deviceIndependentSize().toSize(), QSize(115, 50));
        QVERIFY(ToolbarPixmap(tiInfo, 120, 2.0).width() == 230);
    }

    // The windows as they come up under this run's scaling.
    void windowsUseTheDeviceSet() {
        const double ratio = scaleFactor();
        QCOMPARE(ScreenPixelRatio(), ratio);
        QCOMPARE(ScreenDpi(), 96);  // Qt's scaling leaves the logical resolution alone
        const int device = DeviceDpi(ScreenDpi(), ScreenPixelRatio());
        QCOMPARE(device, static_cast<int>(std::lround(96 * ratio)));

        TfrmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* button = w.findChild<QToolButton*>(QStringLiteral("tbtEntpackenButton"));
        QVERIFY(button);
        QCOMPARE(button->iconSize(), QSize(92, 40));
        const QPixmap shown = button->icon().pixmap(button->iconSize(), ratio);
        QCOMPARE(shown.size(), ToolbarImageSize(device));
        QVERIFY(sameImage(shown, ToolbarImage(tiEntpacken, device)));

        TfrmAdd add;
        const QPixmap lock = add.imgSchloss->pixmap();
        QCOMPARE(lock.size(), QSize(DialogImageSize(device), DialogImageSize(device)));
        QCOMPARE(lock.deviceIndependentSize().toSize(), QSize(16, 16));
        const QPixmap back = add.btnVerzZur->icon().pixmap(add.btnVerzZur->iconSize(), ratio);
        QCOMPARE(back.size(), QSize(DialogImageSize(device), DialogImageSize(device)));

        // The info picture is resampled once to the device pixels: 600 x 210
        // logical pixels, 600 x 210 x ratio device pixels.
        TfrmInfo info;
        const QPixmap picture = info.imgHintergrund->pixmap();
        QCOMPARE(picture.size(), TfrmInfo::PictureSize(device));
        QCOMPARE(picture.deviceIndependentSize().toSize(), QSize(600, 210));
        QCOMPARE(info.imgHintergrund->size(), QSize(600, 210));
        SaveScreenshot(info, QStringLiteral("info-%1").arg(ratio));
        SaveScreenshot(add, QStringLiteral("hinzufuegen-%1").arg(ratio));
    }
};

QTEST_MAIN(HighDpiTest)
#include "HighDpiTest.moc"
