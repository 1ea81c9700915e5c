// Watching the HEX file for a finished rebuild: a change counts once the
// file has stood still for kSettleMs (a build writes it in pieces) and
// reads as complete HEX. The CLI's --watch and the window's "write again"
// both poll one of these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantlebld {

// True when text is whole Intel HEX as a build leaves it: every line up to
// the end-of-file record a well-formed record with a right checksum, and
// that record there. A file cut off anywhere is not.
bool HexTextComplete(std::string_view text);

class THexFileWatch {
 public:
  // How long the file must stay unchanged before it counts.
  static constexpr int64_t kSettleMs = 300;

  enum class TEvent {
    None,        // nothing new
    Changing,    // the file changed just now; it may not be finished
    Incomplete,  // it stood still but is not complete HEX (yet): waited for
    Ready,       // it stood still and is complete HEX: write it
  };

  // The file as it stands now is the one already written.
  explicit THexFileWatch(std::string path);

  // Looks at the file at nowMs (any steady clock in milliseconds, never
  // decreasing). Incomplete and Ready come once per change.
  TEvent Poll(int64_t nowMs);

  const std::string& Path() const { return path_; }

 private:
  struct TStamp {
    bool Exists = false;
    int64_t Size = 0;
    int64_t Modified = 0;  // ticks of the file system's clock
    bool operator==(const TStamp&) const = default;
  };
  TStamp Look() const;

  std::string path_;
  TStamp seen_;
  bool settling_ = false;
  int64_t changedAt_ = 0;
};

}  // namespace vantlebld
