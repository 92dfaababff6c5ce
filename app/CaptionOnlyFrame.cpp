#include "app/CaptionOnlyFrame.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

// Field and bit values of the Motif window manager hints.
constexpr unsigned kHasFunctions = 1u << 0;
constexpr unsigned kHasDecorations = 1u << 1;
constexpr unsigned kFunctionResize = 1u << 1;
constexpr unsigned kFunctionMove = 1u << 2;
constexpr unsigned kFunctionMinimize = 1u << 3;
constexpr unsigned kFunctionMaximize = 1u << 4;
constexpr unsigned kFunctionClose = 1u << 5;
constexpr unsigned kDecorationBorder = 1u << 1;
constexpr unsigned kDecorationTitle = 1u << 3;

} // namespace

CaptionOnlyFrame::Hints CaptionOnlyFrame::hints(bool resizable)
{
    unsigned functions = kFunctionMove | kFunctionMinimize | kFunctionClose;
    if (resizable)
        functions |= kFunctionResize | kFunctionMaximize;
    return {kHasFunctions | kHasDecorations, functions, kDecorationBorder | kDecorationTitle, 0, 0};
}

bool CaptionOnlyFrame::apply(QWindow* window, bool resizable)
{
    // Only Qt's X11 platform has the window manager to ask (the headless one may offer an
    // X11 interface of its own, without a connection).
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        qWarning("The window's title bar hints could not be set: no connection to the X11 display");
        return false;
    }
    static const char kName[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(kName), kName), nullptr);
    if (!atom) {
        qWarning("The window's title bar hints could not be set: the display gave no _MOTIF_WM_HINTS atom");
        return false;
    }
    const Hints h = hints(resizable);
    const uint32_t fields[5] = {h.flags, h.functions, h.decorations, h.inputMode, h.status};
    // Qt writes its own version of these hints when it creates the native window; this
    // replaces it with one that names the decorations too.
    const xcb_void_cookie_t written =
        xcb_change_property_checked(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                                    atom->atom, atom->atom, 32, 5, fields);
    std::free(atom);
    xcb_generic_error_t* error = xcb_request_check(connection, written);
    const bool ok = error == nullptr;
    std::free(error);
    if (!ok)
        qWarning(
            "The window's title bar hints could not be set: the window manager may show its own buttons");
    return ok;
}
