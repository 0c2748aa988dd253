#include "Bitmap_Skalieren.h"

#include "MessageBoxes.h"

#include <cmath>
#include <new>
#include <stdexcept>

namespace {

constexpr float kPi = 3.14159265358979323846f;

float Sinc(float t) {
    if (t == 0.0f) {
        return 1.0f;
    }
    t *= kPi;
    return std::sin(t) / t;
}

// One row or column of a picture split into its colour channels.
struct ChannelArrays {
    std::vector<int32_t> red, green, blue;
    void resize(int n) {
        red.resize(n);
        green.resize(n);
        blue.resize(n);
    }
    void set(int i, QRgb pixel) {
        red[i] = qRed(pixel);
        green[i] = qGreen(pixel);
        blue[i] = qBlue(pixel);
    }
};

uint32_t ClampChannel(int64_t value) {
    if (value < 0) {
        return 0;
    }
    return value > 255 ? 255u : static_cast<uint32_t>(value);
}

int64_t Normalise(int64_t sum, int64_t total) {
    if (total != 0) {
        return sum / total;
    }
    // No weight at all: fall back to the plain fixed-point value.
    return static_cast<uint32_t>(sum) >> 8;
}

// Combines the contributors of one destination pixel from the channel arrays.
QRgb Combine(const TContributors& c, const ChannelArrays& ch) {
    int64_t total = 0, r = 0, g = 0, b = 0;
    for (int32_t k = 0; k < c.count; ++k) {
        const TContributorEntry& e = c.list[k];
        total += e.weight;
        r += static_cast<int64_t>(e.weight) * ch.red[e.pixel];
        g += static_cast<int64_t>(e.weight) * ch.green[e.pixel];
        b += static_cast<int64_t>(e.weight) * ch.blue[e.pixel];
    }
    return qRgb(ClampChannel(Normalise(r, total)), ClampChannel(Normalise(g, total)),
                ClampChannel(Normalise(b, total)));
}

// Folds an index that lies outside 0..size-1 back into range by mirroring at the edges.
// Mirroring alone is not enough when the filter reaches further than the picture is wide,
// so what is still outside is clamped.
int32_t FoldIndex(long j, int size) {
    if (j < 0) {
        j = -j;
    } else if (j >= size) {
        j = 2L * size - j - 1;
    }
    if (j < 0) {
        j = 0;
    } else if (j >= size) {
        j = size - 1;
    }
    return static_cast<int32_t>(j);
}

}  // namespace

float FilterKernel(int filter, float x) {
    if (filter == rfBox) {
        return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
    }
    const float a = std::fabs(x);
    const float x2 = a * a;
    switch (filter) {
        case rfTriangle:
            return a < 1.0f ? 1.0f - a : 0.0f;
        case rfHermite:
            return a < 1.0f ? (2.0f * a - 3.0f) * x2 + 1.0f : 0.0f;
        case rfBell:
            if (a < 0.5f) {
                return 0.75f - x2;
            }
            if (a < 1.5f) {
                const float t = a - 1.5f;
                return 0.5f * t * t;
            }
            return 0.0f;
        case rfBSpline:
            if (a < 1.0f) {
                return 0.5f * x2 * a - x2 + 2.0f / 3.0f;
            }
            if (a < 2.0f) {
                const float t = 2.0f - a;
                return t * t * t / 6.0f;
            }
            return 0.0f;
        case rfLanczos3:
            return a < 3.0f ? Sinc(a) * Sinc(a / 3.0f) : 0.0f;
        case rfMitchell:
            if (a < 1.0f) {
                return (7.0f * x2 * a - 12.0f * x2 + 16.0f / 3.0f) / 6.0f;
            }
            if (a < 2.0f) {
                return (-7.0f / 3.0f * x2 * a + 12.0f * x2 - 20.0f * a + 32.0f / 3.0f) / 6.0f;
            }
            return 0.0f;
        default:
            return 0.0f;
    }
}

float FilterDefaultRadius(int filter) {
    static constexpr float kRadius[kResampleFilterCount] = {0.5f, 1.0f, 1.0f, 1.5f,
                                                            2.0f, 3.0f, 2.0f};
    return (filter >= 0 && filter < kResampleFilterCount) ? kRadius[filter] : 0.0f;
}

float ResampleScale(int srcSize, int dstSize) {
    // With one destination pixel there is no last pixel to map onto: (dst-1)/(src-1) would
    // be 0 and every centre a division by zero, so that case scales by size like a
    // one-pixel source does.
    if (srcSize == 1 || dstSize == 1) {
        return static_cast<float>(dstSize) / static_cast<float>(srcSize);
    }
    return static_cast<float>(dstSize - 1) / static_cast<float>(srcSize - 1);
}

std::vector<TContributors> BuildContributors(int srcSize, int dstSize, float scale, float radius,
                                             int filter) {
    std::vector<TContributors> result(dstSize);
    const bool enlarging = scale >= 1.0f;
    const float width = enlarging ? radius : radius / scale;
    for (int i = 0; i < dstSize; ++i) {
        TContributors& c = result[i];
        const float center = static_cast<float>(i) / scale;
        const long left = static_cast<long>(std::floor(center - width));
        const long right = static_cast<long>(std::ceil(center + width));
        c.list.reserve(static_cast<size_t>(right - left + 1));
        for (long j = left; j <= right; ++j) {
            const float distance = center - static_cast<float>(j);
            float value;
            if (enlarging) {
                value = FilterKernel(filter, distance) * 256.0f;
            } else {
                value = FilterKernel(filter, distance * scale) * scale * 256.0f;
            }
            // lrintf rounds to nearest with ties to even in the default rounding mode.
            const auto weight = static_cast<int32_t>(std::lrintf(value));
            if (weight == 0) {
                continue;
            }
            c.list.push_back({weight, FoldIndex(j, srcSize)});
        }
        c.count = static_cast<int32_t>(c.list.size());
    }
    return result;
}

bool ResampleBitmap(QImage& picture, int newWidth, int newHeight, float radius, int filter) {
    if (picture.isNull()) {
        return true;
    }
    if (filter < 0 || filter >= kResampleFilterCount || newWidth < 0 || newHeight < 0) {
        return false;
    }
    if (radius == 0.0f) {
        radius = FilterDefaultRadius(filter);
    }
    try {
        // Blue, green, red and one unused byte per pixel while resampling.
        const QImage source = picture.convertToFormat(QImage::Format_RGB32);
        if (source.isNull()) {
            return false;
        }
        if (newWidth == 0 || newHeight == 0) {
            picture = QImage();
            return true;
        }
        QImage target(newWidth, newHeight, QImage::Format_RGB32);
        const int srcW = source.width();
        const int srcH = source.height();
        QImage work(newWidth, srcH, QImage::Format_RGB32);
        if (target.isNull() || work.isNull()) {
            return false;
        }

        ChannelArrays channels;

        // Horizontal pass: source rows into the intermediate picture.
        const std::vector<TContributors> columns =
            BuildContributors(srcW, newWidth, ResampleScale(srcW, newWidth), radius, filter);
        channels.resize(srcW);
        for (int y = 0; y < srcH; ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
            for (int x = 0; x < srcW; ++x) {
                channels.set(x, in[x]);
            }
            auto* out = reinterpret_cast<QRgb*>(work.scanLine(y));
            for (int i = 0; i < newWidth; ++i) {
                out[i] = Combine(columns[i], channels);
            }
        }

        // Vertical pass: intermediate columns into the target.
        const std::vector<TContributors> rows =
            BuildContributors(srcH, newHeight, ResampleScale(srcH, newHeight), radius, filter);
        channels.resize(srcH);
        const qsizetype workStride = work.bytesPerLine();
        const qsizetype targetStride = target.bytesPerLine();
        const uchar* workBits = work.constBits();
        uchar* targetBits = target.bits();
        for (int x = 0; x < newWidth; ++x) {
            for (int y = 0; y < srcH; ++y) {
                channels.set(y, reinterpret_cast<const QRgb*>(workBits + y * workStride)[x]);
            }
            for (int i = 0; i < newHeight; ++i) {
                reinterpret_cast<QRgb*>(targetBits + i * targetStride)[x] =
                    Combine(rows[i], channels);
            }
        }

        QImage result = target.convertToFormat(QImage::Format_RGB888);
        if (result.isNull()) {
            return false;
        }
        picture = std::move(result);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

void BildSkalieren(QImage& picture, int newWidth, int newHeight, float radius, int filter) {
    if (!ResampleBitmap(picture, newWidth, newHeight, radius, filter)) {
        ShowMessage(TMessageKind::mkWarning,
                    QStringLiteral("Fehler beim Skalieren. Zielbild zu groß."));
    }
}
