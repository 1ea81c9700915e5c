// How a free-text line of a job stands in the job's story; the one
// renderer (log_text.h) decides what each looks like.
#pragma once

#include <cstdint>

namespace vantlebld {

enum class TLineRole : uint8_t {
  Plain,      // a headline of the job
  Step,       // a step of the job
  Problem,    // something that went wrong or needs care
  Reason,     // the reason under "ERROR!"
  Continued,  // continues the line before it
};

}  // namespace vantlebld
