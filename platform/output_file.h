// Files a job writes besides the PIC (a dump, a report, a picture): looked
// at before anything is sent, so a name typed wrong never costs a write
// nor empties the HEX file the write reads.
#pragma once

#include <string>

namespace vantlebld {

// Whether two names lead to one file: the same file when both exist, else
// the same path once "..", "." and links are resolved.
bool SameFile(const std::string& a, const std::string& b);

// Why the file cannot be written where it stands (a missing folder, one
// without write permission, a folder given as the file); empty when it
// can. An existing file is opened for appending, so it keeps what it
// holds; nothing is created.
std::string WhyNotWritable(const std::string& path);

}  // namespace vantlebld
