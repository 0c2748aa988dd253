// Resampling of bitmap pictures: a separable two-pass resampler with seven filter kernels
// and per-pixel contributor lists in 8-bit fixed point.
#pragma once

#include <QImage>

#include <cstdint>
#include <vector>

// Filter indices of `BildSkalieren`.
enum TResampleFilter : int {
    rfBox = 0,
    rfTriangle = 1,
    rfHermite = 2,
    rfBell = 3,
    rfBSpline = 4,
    rfLanczos3 = 5,
    rfMitchell = 6,
};
constexpr int kResampleFilterCount = 7;

// One source pixel's share in a destination pixel.
struct TContributorEntry {
    int32_t weight;  // kernel value times 256, rounded
    int32_t pixel;   // source index along the current direction, already in range
};
using TContributorList = std::vector<TContributorEntry>;

// The contributors of one destination pixel along the current direction.
struct TContributors {
    int32_t count = 0;
    TContributorList list;
};

// Kernel value at distance x (in source pixels); an unknown index gives 0.
float FilterKernel(int filter, float x);
// The radius a filter covers when `BildSkalieren` is given radius 0; 0 for an unknown index.
float FilterDefaultRadius(int filter);

// Scale factor between a source and a destination size, mapping the first and the last
// pixel onto each other.
float ResampleScale(int srcSize, int dstSize);

// Contributor lists for every destination pixel of one direction.
std::vector<TContributors> BuildContributors(int srcSize, int dstSize, float scale, float radius,
                                             int filter);

// Resamples `picture` to newWidth x newHeight without showing anything. The result is a
// 24-bit picture (QImage::Format_RGB888). Returns false when the work could not be done (no
// memory for the target, unknown filter); the picture is then left unchanged.
bool ResampleBitmap(QImage& picture, int newWidth, int newHeight, float radius, int filter);

// Resamples `picture` in place; radius 0 means the filter's default radius. On failure the
// warning "Fehler beim Skalieren. Zielbild zu groß." is shown.
void BildSkalieren(QImage& picture, int newWidth, int newHeight, float radius, int filter);
