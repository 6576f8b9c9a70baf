#include "controls/WindowFrame.h"

#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {
// The Motif window manager hints, as X11 window managers read them.
enum : quint32 {
    kMwmHintsFunctions = 1,
    kMwmHintsDecorations = 2,
    kMwmFuncMove = 4,
    kMwmDecorBorder = 2,
    kMwmDecorTitle = 8,
};
} // namespace

void OfferMovingOnly(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    const char* const name = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    if (!atom)
        return;
    const quint32 hints[5] = {kMwmHintsFunctions | kMwmHintsDecorations, kMwmFuncMove, kMwmDecorBorder | kMwmDecorTitle,
                              0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), atom->atom,
                        atom->atom, 32, 5, hints);
    xcb_flush(connection);
    std::free(atom);
}
