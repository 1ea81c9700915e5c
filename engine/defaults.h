// The defaults the window, the CLI and the benchmarks share, and the exit
// codes of the two programs: one definition each.
#pragma once

#include <cstdint>

namespace vantlebld {

// The serial line's speed unless the user names another.
constexpr int32_t kDefaultBaudRate = 115200;
constexpr const char* kDefaultBaudText = "115200";

// The activation byte the firmware listens for, unless the user names another.
constexpr uint8_t kDefaultIDCode = 0xC1;

// Exit codes of vantlebld and vantlebld-cli.
constexpr int kExitOk = 0;
constexpr int kExitBadCommandLine = 1;
constexpr int kExitJobFailed = 3;

}  // namespace vantlebld
