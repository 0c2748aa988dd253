// Checking a saved window position against the screens there are now: after
// a monitor was removed or rearranged, the window must not open where no
// screen shows it.
#pragma once

#include <QList>
#include <QRect>

// The areas of today's screens that windows may use, the primary screen first.
QList<QRect> AvailableScreenAreas();

// `saved` unchanged while enough of its top edge (where the title bar is
// grabbed) lies on one of `screens`; otherwise moved, and shrunk where it is
// larger, into the screen that holds most of it (the first one when none
// does). No screens: `saved` unchanged.
QRect PlaceOnScreens(const QRect& saved, const QList<QRect>& screens);
