#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace {

// How much of the top edge must be on a screen to grab and move the window.
constexpr int kGrabWidth = 100;
constexpr int kGrabHeight = 20;

qint64 area(const QRect& r) {
    return r.isEmpty() ? 0 : static_cast<qint64>(r.width()) * r.height();
}

}  // namespace

QList<QRect> AvailableScreenAreas() {
    QList<QRect> areas;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) {
        areas << primary->availableGeometry();
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) {
            areas << screen->availableGeometry();
        }
    }
    return areas;
}

QRect PlaceOnScreens(const QRect& saved, const QList<QRect>& screens) {
    if (screens.isEmpty()) {
        return saved;
    }
    const QRect top(saved.left(), saved.top(), saved.width(), kGrabHeight);
    const int needed = std::min(kGrabWidth, saved.width());
    for (const QRect& s : screens) {
        const QRect seen = s.intersected(top);
        if (seen.width() >= needed && seen.height() >= std::min(kGrabHeight, saved.height())) {
            return saved;
        }
    }
    QRect target = screens.front();
    qint64 best = 0;
    for (const QRect& s : screens) {
        const qint64 a = area(s.intersected(saved));
        if (a > best) {
            best = a;
            target = s;
        }
    }
    QRect placed(saved.topLeft(), QSize(std::min(saved.width(), target.width()),
                                        std::min(saved.height(), target.height())));
    placed.moveLeft(std::clamp(placed.left(), target.left(), target.right() - placed.width() + 1));
    placed.moveTop(std::clamp(placed.top(), target.top(), target.bottom() - placed.height() + 1));
    return placed;
}
