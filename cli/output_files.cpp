#include "cli/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace vantlebld {

namespace {

namespace fs = std::filesystem;

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

// Whether two names lead to one file: the same file when both exist, else
// the same path once "..", "." and links are resolved.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
  const fs::path pa = fs::weakly_canonical(fs::absolute(a, error), error);
  if (error) return false;
  const fs::path pb = fs::weakly_canonical(fs::absolute(b, error), error);
  return !error && pa == pb;
}

// Why the file cannot be written; empty when it can. An existing file is
// opened for appending, so it keeps what it holds; for a new one its
// folder is asked.
std::string WhyNotWritable(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status)) return "it is a folder";
  if (fs::exists(status)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
  }
  const fs::path folder = fs::path(path).parent_path();
  const std::string where = folder.empty() ? std::string(".") : folder.string();
  if (::access(where.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return {};
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
