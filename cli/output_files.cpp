#include "cli/output_files.h"

#include "platform/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace vantlebld {

namespace {

struct TOutputFile {
  std::string Option;  // "--dump"
  std::string Path;
};

// The output files the options name, also where the command would not
// use them (a name typed there is a mistake all the same).
std::vector<TOutputFile> OutputFilesOf(const CliOptions& o) {
  std::vector<TOutputFile> files;
  if (o.Has("dump")) files.push_back({"--dump", o.Value("dump")});
  if (o.Has("report")) files.push_back({"--report", o.Value("report")});
  if (o.Has("svg")) files.push_back({"--svg", o.Value("svg")});
  return files;
}

}  // namespace

void CheckOutputFiles(const CliOptions& o) {
  const std::vector<TOutputFile> files = OutputFilesOf(o);
  const bool readsHex = (o.Command == "write" || o.Command == "clear-all" || o.Command == "map" ||
                         o.Command == "analyze") &&
                        !o.Arguments.empty();
  for (size_t i = 0; i < files.size(); ++i) {
    const TOutputFile& f = files[i];
    if (f.Path.empty()) throw CliUsageError(f.Option + " needs a file name");
    if (readsHex && SameFile(f.Path, o.Arguments.at(0)))
      throw CliUsageError(f.Option + " " + f.Path + " is the HEX file " + o.Arguments.at(0) +
                          " the job reads; name another file for " + f.Option);
    for (size_t j = 0; j < i; ++j) {
      if (SameFile(f.Path, files[j].Path))
        throw CliUsageError(files[j].Option + " " + files[j].Path + " and " + f.Option + " " +
                            f.Path + " name the same file; give each a file of its own");
    }
    const std::string why = WhyNotWritable(f.Path);
    if (!why.empty())
      throw CliUsageError("cannot write the " + f.Option + " file " + f.Path + ": " + why +
                          "; name a file in an existing folder you may write to");
  }
}

}  // namespace vantlebld
