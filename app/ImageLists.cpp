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

double ScreenPixelRatio() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        return screen->devicePixelRatio();
    }
    return 1.0;
}

int DeviceDpi(int logicalDpi, double ratio) {
    return static_cast<int>(std::lround(logicalDpi * (ratio > 0 ? ratio : 1.0)));
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

namespace {

// `image` (of the set for the device resolution) as `logical` size x `ratio`
// device pixels, drawn at the logical size.
QPixmap forDevice(QPixmap image, QSize logical, double ratio) {
    if (ratio <= 0) {
        ratio = 1.0;
    }
    const QSize device(static_cast<int>(std::lround(logical.width() * ratio)),
                       static_cast<int>(std::lround(logical.height() * ratio)));
    if (!image.isNull() && image.size() != device) {
        image = image.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

}  // namespace

QPixmap ToolbarPixmap(TToolbarImage image, int logicalDpi, double ratio) {
    return forDevice(ToolbarImage(image, DeviceDpi(logicalDpi, ratio)),
                     ToolbarImageSize(logicalDpi), ratio);
}

QPixmap DialogPixmap(TDialogImage image, int logicalDpi, double ratio) {
    const int side = DialogImageSize(logicalDpi);
    return forDevice(DialogImage(image, DeviceDpi(logicalDpi, ratio)), QSize(side, side), ratio);
}
