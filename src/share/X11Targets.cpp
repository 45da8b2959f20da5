#include "share/X11Targets.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter
{
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};

// Titles longer than this many bytes are not read further.
constexpr quint32 MaxTitleWords = 256;
constexpr quint32 MaxClientWords = 4096;

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, quint16(strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QString title(xcb_connection_t *c, xcb_window_t window, xcb_atom_t netName, xcb_atom_t utf8)
{
    if (netName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE) {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, netName, utf8, 0, MaxTitleWords), nullptr));
        if (reply && reply->format == 8 && xcb_get_property_value_length(reply.get()) > 0)
            return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply.get())),
                                     xcb_get_property_value_length(reply.get()));
    }
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, MaxTitleWords), nullptr));
    if (reply && reply->format == 8 && xcb_get_property_value_length(reply.get()) > 0) {
        const char *text = static_cast<const char *>(xcb_get_property_value(reply.get()));
        const int length = xcb_get_property_value_length(reply.get());
        return reply->type == utf8 ? QString::fromUtf8(text, length) : QString::fromLatin1(text, length);
    }
    return {};
}

bool viewable(xcb_connection_t *c, xcb_window_t window)
{
    Reply<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return a && a->map_state == XCB_MAP_STATE_VIEWABLE && a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT
           && !a->override_redirect;
}

QSize sizeOf(xcb_connection_t *c, xcb_window_t window)
{
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    return g ? QSize(g->width, g->height) : QSize();
}

QString cleaned(QString text)
{
    text = text.simplified();
    if (text.size() > X11Targets::MaxTitleLength)
        text = text.left(X11Targets::MaxTitleLength - 1) + QChar(0x2026);
    return text;
}

} // namespace

QList<ScreenTarget> X11Targets::list(const QString &display)
{
    QList<ScreenTarget> screens;
    QList<ScreenTarget> windows;
    if (display.isEmpty())
        return screens;
    const QByteArray name = display.toLocal8Bit();
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection(xcb_connect(name.constData(), nullptr));
    xcb_connection_t *c = connection.get();
    if (xcb_connection_has_error(c))
        return screens;
    const xcb_atom_t clientList = atom(c, "_NET_CLIENT_LIST");
    const xcb_atom_t netName = atom(c, "_NET_WM_NAME");
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");

    int number = 0;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        ++number;
        const xcb_window_t root = it.data->root;
        const QSize rootSize = sizeOf(c, root);
        screens.append({ScreenTarget::Kind::Screen, root,
                        tr("Screen %1 (%2 x %3)").arg(number).arg(rootSize.width()).arg(rootSize.height()), rootSize});

        // The window manager's list of the windows it manages, else the root's children.
        QList<xcb_window_t> candidates;
        if (clientList != XCB_ATOM_NONE) {
            Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
                c, xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, MaxClientWords), nullptr));
            if (reply && reply->format == 32) {
                const auto *ids = static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
                for (int i = 0; i < xcb_get_property_value_length(reply.get()) / 4; ++i)
                    candidates.append(ids[i]);
            }
        }
        const bool managed = !candidates.isEmpty();
        if (!managed) {
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
            if (tree) {
                const xcb_window_t *children = xcb_query_tree_children(tree.get());
                for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
                    candidates.append(children[i]);
            }
        }
        for (const xcb_window_t window : std::as_const(candidates)) {
            if (windows.size() >= MaxWindows)
                break;
            if (!managed && !viewable(c, window))
                continue;
            QString text = cleaned(title(c, window, netName, utf8));
            xcb_window_t named = window;
            if (text.isEmpty() && !managed) {
                // A window manager's frame without the list: the title is its child's.
                Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
                if (tree && xcb_query_tree_children_length(tree.get()) > 0) {
                    named = xcb_query_tree_children(tree.get())[0];
                    text = cleaned(title(c, named, netName, utf8));
                }
            }
            if (text.isEmpty())
                continue;
            windows.append({ScreenTarget::Kind::Window, named, text, sizeOf(c, named)});
        }
    }
    return screens + windows;
}
