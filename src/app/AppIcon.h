#pragma once

#include "platform/OwnAudioIDs.h"

#include <QIcon>
#include <QString>

namespace parlaro::app {

// The name the desktop knows the program by: its launcher entry is
// `<desktopId>.desktop`, its icons in the theme carry the same name, and on
// Wayland it is the windows' app id, which is how the shell ties a window to
// its launcher entry. The sound server knows it by the same id; the install
// step names the entry's and icons' files after it too.
inline constexpr const char* desktopId = ownApplicationID;

// The application's icon from the desktop's icon theme, as installed; a
// build run from its own folder has none there and uses the bundled copy.
QIcon applicationIcon();
// The one-colour icon for the tray from the theme, as installed; else
// `drawn`, the same glyph drawn for the sizes panels ask for.
QIcon trayIcon(const QIcon& drawn);

}  // namespace parlaro::app
