// The program's icon, and the five status images of the tray icon made from
// it: idle, searching, found, done, error.
#pragma once

#include <QIcon>

namespace vantlebld {

enum class TStatusImage { Idle = 0, Searching = 1, Found = 2, Done = 3, Error = 4 };

// The icon the desktop has installed for the program (the hicolor theme's
// "vantlebld"), or the same pictures built into the program.
QIcon ProgramIcon();
// The program's icon with a status lamp in its corner; idle has none.
QIcon StatusIcon(TStatusImage image);

}  // namespace vantlebld
