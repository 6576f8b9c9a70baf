#include "controls/WindowFrame.h"

#include <QDialog>
#include <QEvent>
#include <QFileDialog>
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

xcb_connection_t* X11Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

QByteArray WindowProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, type, 0, 64), nullptr);
    QByteArray value;
    if (reply)
        value =
            QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

// The running window manager's name, as it announces it on its check window.
QByteArray WindowManagerName(xcb_connection_t* connection)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const QByteArray check =
        WindowProperty(connection, root, Atom(connection, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    if (check.size() != sizeof(xcb_window_t))
        return {};
    xcb_window_t manager;
    std::memcpy(&manager, check.constData(), sizeof manager);
    return WindowProperty(connection, manager, Atom(connection, "_NET_WM_NAME"), Atom(connection, "UTF8_STRING"));
}

// Openbox offers minimising to every dialog whatever its Motif hints say,
// and leaves it out only for a few window types. There a dialog names the
// toolbar type first, which openbox frames with a title and a close button
// alone and still focuses, and the dialog type after it. Other window
// managers follow the Motif hints Qt sets from the window flags.
void OfferClosingOnly(QWidget* window)
{
    xcb_connection_t* connection = X11Connection();
    if (!connection || WindowManagerName(connection) != "Openbox")
        return;
    const xcb_atom_t types[2] = {Atom(connection, "_NET_WM_WINDOW_TYPE_TOOLBAR"),
                                 Atom(connection, "_NET_WM_WINDOW_TYPE_DIALOG")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()),
                        Atom(connection, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 2, types);
    xcb_flush(connection);
}

// Sees each dialog just before it is mapped: the native window exists and
// the layout has given it its size. Other windows of the dialog type that
// offer a close box (the missed reminders) count too; the alert, which
// offers none, keeps its own frame.
class TDialogFramer : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || !watched->isWidgetType())
            return false;
        auto* window = static_cast<QWidget*>(watched);
        if (!window->isWindow())
            return false;
        if (qobject_cast<QDialog*>(window)) {
            if (!qobject_cast<QFileDialog*>(window))
                window->setFixedSize(window->size());
            OfferClosingOnly(window);
        } else if (window->windowType() == Qt::Dialog && window->windowFlags().testFlag(Qt::WindowCloseButtonHint)) {
            OfferClosingOnly(window);
        }
        return false;
    }
};
} // namespace

void FrameDialogsClosingOnly(QObject* application)
{
    application->installEventFilter(new TDialogFramer(application));
}

void OfferMovingOnly(QWidget* window)
{
    xcb_connection_t* connection = X11Connection();
    if (!connection)
        return;
    const xcb_atom_t hintsAtom = Atom(connection, "_MOTIF_WM_HINTS");
    const quint32 hints[5] = {kMwmHintsFunctions | kMwmHintsDecorations, kMwmFuncMove, kMwmDecorBorder | kMwmDecorTitle,
                              0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), hintsAtom,
                        hintsAtom, 32, 5, hints);
    xcb_flush(connection);
}
