// The command line of vantlebld-cli: a command, its arguments and options.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantlebld {

// A command line that cannot be run as given; exit code 1.
class CliUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CliOptions {
  // "analyze", "devices", ...; with --help the command whose usage is asked
  // for (empty: the whole usage); empty with --version.
  std::string Command;
  std::vector<std::string> Arguments;         // the command's positional arguments
  std::map<std::string, std::string> Values;  // options with a value, by name without "--"
  std::vector<std::string> Ports;             // every --port, in order (Values has the last)
  bool Help = false;
  bool Version = false;
  bool Verbose = false;

  bool Has(const std::string& name) const { return Values.count(name) != 0; }
  std::string Value(const std::string& name, const std::string& fallback = {}) const;
  // The option read as a number (decimal, trailing h, leading $ or 0x);
  // fallback when absent; CliUsageError when not a number in [min, max].
  int64_t Number(const std::string& name, int64_t fallback, int64_t min, int64_t max) const;
  // A write that hands its link to the monitor: --monitor, or --watch
  // (which monitors between its writes).
  bool Monitors() const { return Has("monitor") || Has("watch"); }
};

// Parses argv[1..]. Options may stand before or after the command, as
// "--name value" or "--name=value". "help [COMMAND]" reads as --help.
CliOptions ParseCli(const std::vector<std::string>& args);

// The usage text printed by --help and help.
std::string CliUsage();
// One command's usage: its arguments and the options it takes (the whole
// usage for a name that is no command).
std::string CliCommandUsage(const std::string& command);
// The line printed after a usage error, instead of the usage.
std::string CliUsageHint();

}  // namespace vantlebld
