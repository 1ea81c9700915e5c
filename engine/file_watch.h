// Watching the HEX file for a finished rebuild: a change counts once the
// file has stood still for kSettleMs (a build writes it in pieces) and
// reads as complete HEX. The CLI's --watch and the window's "write again"
// both poll one of these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantlebld {

// What a build has left in the HEX file so far.
struct THexTextCheck {
  enum class TState {
    Complete,    // well-formed records with right checksums up to the end record
    Incomplete,  // no end record yet: the build is still writing it
    Corrupt,     // the end record is there, but it or a record before it is bad
  };
  TState State = TState::Incomplete;
  // With Corrupt: the first bad record's line (from 1) and what is wrong
  // with it ("bad checksum", "wrong length", "not a hex digit", "does not
  // start with ':'"); line 0 when the whole file is refused (larger than
  // a HEX file may be, kMaxHexFileBytes).
  int64_t Line = 0;
  std::string_view Reason;
};

// "<path> line N: <reason>", or "<path>: <reason>" for a whole file refused.
std::string CorruptText(const std::string& path, const THexTextCheck& check);

// Checks text as Intel HEX. A file cut off anywhere, even inside its last
// line, has no end record yet and is Incomplete; lines after the end
// record are not read.
THexTextCheck CheckHexText(std::string_view text);

class THexFileWatch {
 public:
  // How long the file must stay unchanged before it counts.
  static constexpr int64_t kSettleMs = 300;

  enum class TEvent {
    None,        // nothing new
    Changing,    // the file changed just now; it may not be finished
    Incomplete,  // it stood still but is not complete HEX (yet): waited for
    Corrupt,     // it stood still, complete but with a bad record, or too large: see LastCheck()
    Ready,       // it stood still and is complete HEX: write it
  };

  // The file as it stands now is the one already written.
  explicit THexFileWatch(std::string path);

  // Looks at the file at nowMs (any steady clock in milliseconds, never
  // decreasing). Incomplete, Corrupt and Ready come once per change.
  TEvent Poll(int64_t nowMs);

  // The file as the last Incomplete, Corrupt or Ready found it.
  const THexTextCheck& LastCheck() const { return check_; }

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
  THexTextCheck check_;
  bool settling_ = false;
  int64_t changedAt_ = 0;
};

}  // namespace vantlebld
