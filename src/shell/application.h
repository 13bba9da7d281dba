// What every run of the desktop program sets up once its QApplication exists: its name and the
// icon theme its tool bars draw from.
#pragma once

namespace tessaly::shell {

// The icons come from the system's icon themes (the Adwaita theme unless the desktop chose
// another), looked up in the XDG data folders also where the platform names none (offscreen).
void prepare_application();

}  // namespace tessaly::shell
