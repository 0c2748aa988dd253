// The resampler's numbers: kernels, contributor lists, both branches, edges and failure.
#include "app/Bitmap_Skalieren.h"
#include "app/MessageBoxes.h"

#include <QtTest>

#include <cmath>

namespace {

QImage NoiseImage(int w, int h, uint32_t seed) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            img.setPixel(x, y, qRgb(seed >> 24, (seed >> 16) & 0xff, (seed >> 8) & 0xff));
        }
    }
    return img;
}

// A vertical edge: black on the left half, white on the right half.
QImage EdgeImage(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            img.setPixel(x, y, x < w / 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    }
    return img;
}

bool HasNegativeWeight(const std::vector<TContributors>& lists) {
    for (const TContributors& c : lists) {
        for (int k = 0; k < c.count; ++k) {
            if (c.list[k].weight < 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

class ResamplerTest : public QObject {
    Q_OBJECT

private slots:
    void kernelValues_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("expected");
        QTest::newRow("box centre") << int(rfBox) << 0.0f << 1.0f;
        QTest::newRow("box right edge inside") << int(rfBox) << 0.5f << 1.0f;
        QTest::newRow("box left edge outside") << int(rfBox) << -0.5f << 0.0f;
        QTest::newRow("triangle") << int(rfTriangle) << -0.25f << 0.75f;
        QTest::newRow("hermite") << int(rfHermite) << 0.5f << 0.5f;
        QTest::newRow("bell inner") << int(rfBell) << 0.25f << 0.6875f;
        QTest::newRow("bell outer") << int(rfBell) << 1.0f << 0.125f;
        QTest::newRow("b-spline centre") << int(rfBSpline) << 0.0f << 2.0f / 3.0f;
        QTest::newRow("b-spline outer") << int(rfBSpline) << 1.5f << 0.125f / 6.0f;
        QTest::newRow("lanczos centre") << int(rfLanczos3) << 0.0f << 1.0f;
        QTest::newRow("lanczos zero at 1") << int(rfLanczos3) << 1.0f << 0.0f;
        QTest::newRow("lanczos negative lobe") << int(rfLanczos3) << 1.5f << -0.1350949f;
        QTest::newRow("lanczos outside") << int(rfLanczos3) << 3.0f << 0.0f;
        QTest::newRow("mitchell centre") << int(rfMitchell) << 0.0f << 16.0f / 18.0f;
        QTest::newRow("mitchell negative lobe") << int(rfMitchell) << -1.5f << -0.2083333f / 6.0f;
        QTest::newRow("unknown filter") << 7 << 0.0f << 0.0f;
    }
    void kernelValues() {
        QFETCH(int, filter);
        QFETCH(float, x);
        QFETCH(float, expected);
        QVERIFY2(std::fabs(FilterKernel(filter, x) - expected) < 1e-5f,
                 qPrintable(QString::number(FilterKernel(filter, x), 'g', 9)));
    }

    void defaultRadii() {
        const float radii[] = {0.5f, 1.0f, 1.0f, 1.5f, 2.0f, 3.0f, 2.0f};
        for (int f = 0; f < kResampleFilterCount; ++f) {
            QCOMPARE(FilterDefaultRadius(f), radii[f]);
        }
    }

    void boxAtSameSizeReproducesSource() {
        const QImage src = NoiseImage(37, 23, 7);
        QImage pic = src;
        QVERIFY(ResampleBitmap(pic, 37, 23, 0.0f, rfBox));
        QCOMPARE(pic.format(), QImage::Format_RGB888);
        QCOMPARE(pic.convertToFormat(QImage::Format_RGB32), src);
    }

    void reducingBranchFor200x100To100x50() {
        QCOMPARE(ResampleScale(200, 100), 99.0f / 199.0f);
        QCOMPARE(ResampleScale(100, 50), 49.0f / 99.0f);
        const float scale = ResampleScale(200, 100);
        const auto lists =
            BuildContributors(200, 100, scale, FilterDefaultRadius(rfLanczos3), rfLanczos3);
        QCOMPARE(int(lists.size()), 100);
        // Reducing stretches the radius of 3 to 3 / scale (about 6) source pixels; enlarging
        // would give at most seven contributors.
        QVERIFY(lists[50].count > 7);
        // The first column reaches to the left of the picture and is mirrored: index -k
        // reads pixel k, so pixel 1 appears twice.
        int ones = 0;
        for (int k = 0; k < lists[0].count; ++k) {
            QVERIFY(lists[0].list[k].pixel >= 0 && lists[0].list[k].pixel < 200);
            ones += lists[0].list[k].pixel == 1;
        }
        QCOMPARE(ones, 2);
        // The reduced weights are scaled down and add up to about 256.
        for (const TContributors& c : lists) {
            int sum = 0;
            for (int k = 0; k < c.count; ++k) {
                sum += c.list[k].weight;
            }
            QVERIFY2(std::abs(sum - 256) <= 4, qPrintable(QString::number(sum)));
        }

        QImage flat(200, 100, QImage::Format_RGB32);
        flat.fill(qRgb(255, 114, 19));
        QVERIFY(ResampleBitmap(flat, 100, 50, 0.0f, rfLanczos3));
        QCOMPARE(flat.size(), QSize(100, 50));
        // Dividing by the weight total keeps a flat colour exact.
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 100; ++x) {
                QCOMPARE(flat.pixel(x, y), qRgb(255, 114, 19));
            }
        }
    }

    void negativeWeightsClamp_data() {
        QTest::addColumn<int>("filter");
        QTest::newRow("lanczos") << int(rfLanczos3);
        QTest::newRow("mitchell") << int(rfMitchell);
    }
    void negativeWeightsClamp() {
        QFETCH(int, filter);
        const auto lists =
            BuildContributors(16, 61, ResampleScale(16, 61), FilterDefaultRadius(filter), filter);
        QVERIFY(HasNegativeWeight(lists));
        QImage pic = EdgeImage(16, 4);
        QVERIFY(ResampleBitmap(pic, 61, 4, 0.0f, filter));
        // Overshoot next to the edge is clamped; without clamping, a negative sum on the dark
        // side would wrap round to a bright value and the bright side would wrap to dark.
        const int edge = 30;  // 7.5 source pixels times the scale of 4
        bool sawBlack = false, sawWhite = false;
        for (int x = 0; x < 61; ++x) {
            const int v = qRed(pic.pixel(x, 0));
            if (x < edge - 2) {
                QVERIFY2(v < 16, qPrintable(QStringLiteral("x=%1 v=%2").arg(x).arg(v)));
            } else if (x > edge + 2) {
                QVERIFY2(v > 239, qPrintable(QStringLiteral("x=%1 v=%2").arg(x).arg(v)));
            }
            sawBlack |= v == 0;
            sawWhite |= v == 255;
        }
        QVERIFY(sawBlack && sawWhite);
    }

    void tinySourcesStayInBounds_data() {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::addColumn<int>("filter");
        QTest::newRow("1x1 to 5x4 lanczos") << QSize(1, 1) << QSize(5, 4) << int(rfLanczos3);
        QTest::newRow("2x2 to 7x3 lanczos") << QSize(2, 2) << QSize(7, 3) << int(rfLanczos3);
        QTest::newRow("3x2 to 1x1 lanczos") << QSize(3, 2) << QSize(1, 1) << int(rfLanczos3);
        QTest::newRow("2x3 to 9x9 b-spline") << QSize(2, 3) << QSize(9, 9) << int(rfBSpline);
        QTest::newRow("4x1 to 2x1 mitchell") << QSize(4, 1) << QSize(2, 1) << int(rfMitchell);
        QTest::newRow("5x5 to 1x5 bell") << QSize(5, 5) << QSize(1, 5) << int(rfBell);
        QTest::newRow("1x2 to 1x2 box") << QSize(1, 2) << QSize(1, 2) << int(rfBox);
    }
    void tinySourcesStayInBounds() {
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        QFETCH(int, filter);
        for (const auto& [src, dst] :
             {std::pair{from.width(), to.width()}, std::pair{from.height(), to.height()}}) {
            const auto lists = BuildContributors(src, dst, ResampleScale(src, dst),
                                                 FilterDefaultRadius(filter), filter);
            for (const TContributors& c : lists) {
                for (int k = 0; k < c.count; ++k) {
                    QVERIFY(c.list[k].pixel >= 0 && c.list[k].pixel < src);
                }
            }
        }
        QImage pic(from, QImage::Format_RGB32);
        pic.fill(qRgb(10, 200, 30));
        QVERIFY(ResampleBitmap(pic, to.width(), to.height(), 0.0f, filter));
        QCOMPARE(pic.size(), to);
        QCOMPARE(pic.pixel(to.width() - 1, to.height() - 1), qRgb(10, 200, 30));
    }

    void emptyPicturesAndTargets() {
        QImage none;
        QVERIFY(ResampleBitmap(none, 10, 10, 0.0f, rfLanczos3));
        QVERIFY(none.isNull());
        QImage pic = NoiseImage(4, 4, 1);
        QVERIFY(ResampleBitmap(pic, 0, 3, 0.0f, rfBox));
        QVERIFY(pic.isNull());
    }

    void failureWarnsAndKeepsPicture() {
        QList<QString> shown;
        const TMessageBoxHook old =
            SetMessageBoxHook([&](TMessageKind kind, const QString& title, const QString& text,
                                  QMessageBox::StandardButtons buttons) {
                shown << title + "|" + text;
                [&] {
                    QCOMPARE(kind, TMessageKind::mkWarning);
                    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
                }();
                return QMessageBox::Ok;
            });
        const QImage src = NoiseImage(3, 3, 2);
        QImage pic = src;
        BildSkalieren(pic, 2, 2, 0.0f, 9);  // no such filter
        SetMessageBoxHook(old);
        QCOMPARE(shown, QList<QString>{
                            QStringLiteral("Warnung|Fehler beim Skalieren. Zielbild zu groß.")});
        QCOMPARE(pic, src);
    }
};

QTEST_GUILESS_MAIN(ResamplerTest)
#include "ResamplerTest.moc"
