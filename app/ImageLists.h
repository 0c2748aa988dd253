// The pre-drawn image sets: toolbar images in four sizes and the add dialog's images in
// four sizes, chosen by the screen's pixels per inch.
#pragma once

#include <QPixmap>
#include <QSize>

// Toolbar images, in the order of the toolbar's image lists.
enum TToolbarImage : int {
    tiBeenden = 0,
    tiEntpacken = 1,
    tiHilfe = 2,
    tiHinzufuegen = 3,
    tiInfo = 4,
    tiLoeschen = 5,
    tiOeffnen = 6,
    tiUmwandeln = 7,
};
constexpr int kToolbarImageCount = 8;

// The add dialog's images: four tool buttons, the padlock and the show-password button.
enum TDialogImage : int {
    diOrdnerZurueck = 0,
    diSymbole = 1,
    diListe = 2,
    diDetails = 3,
    diSchloss = 4,
    diSichtbar = 5,
};
constexpr int kDialogImageCount = 6;

// The primary screen's logical pixels per inch, rounded; 96 without a screen.
// Layout sizes (ScaleForDpi) follow it: the toolkit turns them into device pixels.
int ScreenDpi();
// The primary screen's device pixel ratio (Qt's scaling: 1.25 at 125 %); 1 without a screen.
double ScreenPixelRatio();
// Device pixels per inch: logical pixels per inch x device pixel ratio, rounded.
// Images are chosen and resampled for it, so that at 125, 150 and 200 % the
// 115, 138 and 184 sets are drawn pixel for pixel instead of a blown-up 92 set.
int DeviceDpi(int logicalDpi, double ratio);

// Which of the four sets serves a resolution: 1 below 120 dpi, 2 from 120 to 143, 3 from
// 144 to 191, 4 from 192 on.
int ImageSetForDpi(int dpi);

// 92x40, 115x50, 138x60 or 184x80.
QSize ToolbarImageSize(int dpi);
// 16, 20, 24 or 32.
int DialogImageSize(int dpi);

// The images themselves, from the compiled-in resources.
QPixmap ToolbarImage(TToolbarImage image, int dpi);
QPixmap DialogImage(TDialogImage image, int dpi);

// The images for a screen: the set of the device resolution, resampled when
// its size is not the device size of the logical image size, and marked with
// the ratio so that it is drawn at the logical size (ToolbarImageSize and
// DialogImageSize of `logicalDpi`).
QPixmap ToolbarPixmap(TToolbarImage image, int logicalDpi, double ratio);
QPixmap DialogPixmap(TDialogImage image, int logicalDpi, double ratio);
