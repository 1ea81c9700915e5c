// The times every link of a line keeps alike, local port or network port.
#pragma once

#include <cstdint>

namespace vantlebld {

// After the first bytes of a packet arrive, a packet receive keeps
// collecting until the line has been quiet this long. A reply handed over
// in pieces (USB adapters deliver in chunks, a network in segments) then
// comes back whole, while a caller waiting on a short reply loses only
// these few ms.
constexpr int32_t kPacketQuietGapMs = 10;
// Upper bound on that collecting, so a device that never stops talking
// cannot keep a packet receive from returning.
constexpr int32_t kPacketMaxCollectMs = 250;
// A purge collects what is still arriving for this long before it
// discards the input, so a late answer shows in the log.
constexpr int32_t kPurgeCollectMs = 10;

// A write that makes no progress for this long has stalled (a driver or a
// server that stopped taking data). The limit is on progress, not on the
// whole write, so long blocks at low rates still pass.
constexpr int32_t kWriteStallMs = 2000;

// Lets ms pass, to the clock rather than to the timer slack of a sleep:
// every link's Wait (platform/links.cpp).
void WaitOnClock(int32_t ms);

}  // namespace vantlebld
