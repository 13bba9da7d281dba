// The system's monitor profile on X11: the profile a colour manager (colord, the desktop's
// display settings) puts on the root window as the _ICC_PROFILE property, the convention X
// programs share. Written to the local data folder so that the colour settings can name it by
// path as they name every other profile.
#pragma once

#include "color/color_settings.h"

struct xcb_connection_t;

namespace tessaly::shell {

// The file the X11 profile is written to: <local data folder>/Monitor Profile.icc.
std::string monitor_profile_file();

// Reads _ICC_PROFILE (or _ICC_PROFILE_<n> for screen n > 0) from the root window of a screen of
// an X connection: found (the bytes written to monitor_profile_file()), none when the property
// is absent or empty, error when the server does not answer, the property is larger than a
// profile may be, or the file cannot be written.
SystemMonitorProfile x11_monitor_profile(xcb_connection_t* connection, int screen);

// Installs the query when the program runs on X11 (the default lookup stays elsewhere). Call
// after the QApplication exists and before the saved state is loaded.
void install_monitor_profile_query();

}  // namespace tessaly::shell
