#pragma once

class QObject;
class QWidget;

// Asks the window manager for a frame that offers moving only: a title bar
// with no close, minimise or maximise button and no such entries in the
// window menu. Qt can express "no buttons" only as "every function", which
// X11 window managers show as all three buttons. Elsewhere nothing changes.
// Call it once the window has its native window (winId()), before showing.
void OfferMovingOnly(QWidget* window);

// Gives every dialog of the program (message boxes and file dialogs too) a
// frame with a close button only, also under openbox, which otherwise offers
// minimising (the dialogs' flags already ask for no minimise or maximise
// button). Dialogs other than file dialogs keep the size they open with, so
// no window manager offers to maximise them. Installed once on the application.
void FrameDialogsClosingOnly(QObject* application);
