// The defaults the window, the CLI and the benchmarks share, and the exit
// codes of the two programs: one definition each.
#pragma once

#include <cstdint>

namespace vantlebld {

// The serial line's speed unless the user names another.
constexpr int32_t kDefaultBaudRate = 115200;
constexpr const char* kDefaultBaudText = "115200";
// The highest rate a command line may name.
constexpr int64_t kMaxBaudRate = 100000000;

// The activation byte the firmware listens for, unless the user names another.
constexpr uint8_t kDefaultIDCode = 0xC1;

// The search's length and the answer time-out of every exchange, unless
// the user names others.
constexpr int32_t kDefaultSearchSeconds = 7;
constexpr int32_t kDefaultTimeoutMs = 300;

// Where the UDP link sends its datagrams unless the settings say otherwise.
constexpr const char* kDefaultUdpHost = "127.0.0.1";
constexpr int32_t kDefaultUdpPort = 8090;

// The largest HEX file the reader and the watch take: a 16 MiB flash as
// INHX32 text is about 46 MiB.
constexpr int64_t kMaxHexFileBytes = 64 * 1024 * 1024;

// Exit codes of vantlebld and vantlebld-cli.
constexpr int kExitOk = 0;
constexpr int kExitBadCommandLine = 1;
constexpr int kExitJobFailed = 3;

}  // namespace vantlebld
