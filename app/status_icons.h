// The five status images of the tray icon, drawn in code: idle, searching,
// found, done, error.
#pragma once

#include <QIcon>

namespace vantlebld {

enum class TStatusImage { Idle = 0, Searching = 1, Found = 2, Done = 3, Error = 4 };

QIcon StatusIcon(TStatusImage image);

}  // namespace vantlebld
