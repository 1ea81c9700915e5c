// Internal assertions of the engine. A failed one carries its text, the
// engine unit's name and the source line, so a report from the field tells
// where it fired.
#pragma once

#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

constexpr const char* kEngineUnitName = "vantlebldComm";

[[noreturn]] inline void AssertionFailed(const char* text, int line) {
  throw EVantleError(Format("%s (%s, line %d)", text, kEngineUnitName, line),
                     EVantleError::Kind::Assertion);
}

}  // namespace vantlebld

#define VANTLE_ASSERT(cond, text)                              \
  do {                                                         \
    if (!(cond)) ::vantlebld::AssertionFailed(text, __LINE__); \
  } while (0)
