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
int ScreenDpi();

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
