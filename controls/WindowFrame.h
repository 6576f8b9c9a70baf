#pragma once

class QWidget;

// Asks the window manager for a frame that offers moving only: a title bar
// with no close, minimise or maximise button and no such entries in the
// window menu. Qt can express "no buttons" only as "every function", which
// X11 window managers show as all three buttons. Elsewhere nothing changes.
// Call it once the window has its native window (winId()), before showing.
void OfferMovingOnly(QWidget* window);
