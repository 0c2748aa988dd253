#include "ImageLists.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

const char* const kToolbarNames[kToolbarImageCount] = {
    "beenden", "entpacken", "hilfe", "hinzufuegen", "info", "loeschen", "oeffnen", "umwandeln",
};

const char* const kDialogNames[kDialogImageCount] = {
    "ordnerzurueck", "symbole", "liste", "details", "schloss", "sichtbar",
};

}  // namespace

int ScreenDpi() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        return static_cast<int>(std::lround(screen->logicalDotsPerInch()));
    }
    return 96;
}

int ImageSetForDpi(int dpi) {
    if (dpi < 120) {
        return 1;
    }
    if (dpi < 144) {
        return 2;
    }
    if (dpi < 192) {
        return 3;
    }
    return 4;
}

QSize ToolbarImageSize(int dpi) {
    static const QSize kSizes[] = {{92, 40}, {115, 50}, {138, 60}, {184, 80}};
    return kSizes[ImageSetForDpi(dpi) - 1];
}

int DialogImageSize(int dpi) {
    static const int kSizes[] = {16, 20, 24, 32};
    return kSizes[ImageSetForDpi(dpi) - 1];
}

QPixmap ToolbarImage(TToolbarImage image, int dpi) {
    const QSize size = ToolbarImageSize(dpi);
    return QPixmap(QStringLiteral(":/toolbar/%1x%2/%3.png")
                       .arg(size.width())
                       .arg(size.height())
                       .arg(QLatin1String(kToolbarNames[image])));
}

QPixmap DialogImage(TDialogImage image, int dpi) {
    return QPixmap(QStringLiteral(":/dialog/%1/%2.png")
                       .arg(DialogImageSize(dpi))
                       .arg(QLatin1String(kDialogNames[image])));
}
