#include "shell/monitor_profile.h"

#include <QGuiApplication>
#include <filesystem>
#include <string>

#include "core/text_file.h"
#include "framework/settings_files.h"

#ifdef TESSALY_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace tessaly::shell {

namespace {

// Larger profiles are left out everywhere else too.
constexpr std::uint32_t largest_profile = 64u << 20;

#ifdef TESSALY_HAVE_XCB
SystemMonitorProfile query_x11() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return {};
    return x11_monitor_profile(x11->connection(), 0);
}
#endif

}  // namespace

std::string monitor_profile_file() {
    return local_data_folder() + "/Monitor Profile.icc";
}

#ifdef TESSALY_HAVE_XCB

SystemMonitorProfile x11_monitor_profile(xcb_connection_t* connection, int screen) {
    using Result = SystemMonitorProfile::Result;
    SystemMonitorProfile out;
    if (!connection || xcb_connection_has_error(connection)) return {Result::error, {}};
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return {Result::error, {}};
    const xcb_window_t root = it.data->root;
    const std::string name =
        screen == 0 ? "_ICC_PROFILE" : "_ICC_PROFILE_" + std::to_string(screen);
    auto free_reply = [](void* p) { std::free(p); };
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(free_reply)> atom(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr),
        free_reply);
    if (!atom) return {Result::error, {}};
    if (atom->atom == XCB_ATOM_NONE) return out;  // nobody ever set it
    std::unique_ptr<xcb_get_property_reply_t, decltype(free_reply)> property(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, root, atom->atom,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, largest_profile / 4),
                               nullptr),
        free_reply);
    if (!property) return {Result::error, {}};
    if (property->bytes_after > 0) return {Result::error, {}};
    const int length = xcb_get_property_value_length(property.get());
    if (property->format != 8 || length <= 0) return out;
    const std::string_view bytes(static_cast<const char*>(xcb_get_property_value(property.get())),
                                 static_cast<std::size_t>(length));
    const std::string path = monitor_profile_file();
    std::string held;
    std::error_code ec;
    std::filesystem::create_directories(local_data_folder(), ec);
    // Written only when it changed, so that a running program never sees half a file.
    if ((read_file_bytes(path, held) || held != bytes) && write_file_atomic(path, bytes)) {
        return {Result::error, {}};
    }
    return {Result::found, path};
}

void install_monitor_profile_query() {
    if (QGuiApplication::platformName() == "xcb") set_monitor_profile_query(&query_x11);
}

#else

SystemMonitorProfile x11_monitor_profile(xcb_connection_t*, int) {
    return {SystemMonitorProfile::Result::error, {}};
}

// Built without xcb: the default lookup answers.
void install_monitor_profile_query() {}

#endif

}  // namespace tessaly::shell
