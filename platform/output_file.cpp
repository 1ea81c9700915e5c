#include "platform/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vantlebld {

namespace fs = std::filesystem;

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
  const fs::path pa = fs::weakly_canonical(fs::absolute(a, error), error);
  if (error) return false;
  const fs::path pb = fs::weakly_canonical(fs::absolute(b, error), error);
  return !error && pa == pb;
}

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

}  // namespace vantlebld
