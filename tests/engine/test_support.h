// The plain helpers live in tests/support/files.h; the window and port
// tests include them by this name.
#pragma once
#include "tests/support/files.h"
