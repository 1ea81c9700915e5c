#include "cli/cli_options.h"

#include <set>

namespace vantlebld {

namespace {

struct CommandSpec {
  const char* name;
  size_t arguments;  // positional arguments the command takes
};

constexpr CommandSpec kCommands[] = {
    {"analyze", 1},
    {"devices", 0},
};

// Options that take a value.
const std::set<std::string> kValueOptions = {"piccodes"};

const CommandSpec* FindCommand(const std::string& name) {
  for (const auto& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

}  // namespace

std::string CliOptions::Value(const std::string& name, const std::string& fallback) const {
  const auto it = Values.find(name);
  return it == Values.end() ? fallback : it->second;
}

CliOptions ParseCli(const std::vector<std::string>& args) {
  CliOptions o;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        args.end());
      break;
    }
    if (a.rfind("--", 0) != 0 || a.size() == 2) {
      positional.push_back(a);
      continue;
    }
    std::string name = a.substr(2);
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    if (name == "help" || name == "version" || name == "verbose") {
      if (hasValue) throw CliUsageError("--" + name + " takes no value");
      (name == "help" ? o.Help : name == "version" ? o.Version : o.Verbose) = true;
      continue;
    }
    if (kValueOptions.count(name) == 0) throw CliUsageError("unknown option --" + name);
    if (!hasValue) {
      if (i + 1 >= args.size()) throw CliUsageError("--" + name + " needs a value");
      value = args[++i];
    }
    o.Values[name] = value;
  }
  if (o.Help || o.Version) return o;
  if (positional.empty()) throw CliUsageError("no command given");
  o.Command = positional.front();
  const CommandSpec* spec = FindCommand(o.Command);
  if (spec == nullptr) throw CliUsageError("unknown command \"" + o.Command + "\"");
  o.Arguments.assign(positional.begin() + 1, positional.end());
  if (o.Arguments.size() != spec->arguments) {
    throw CliUsageError(o.Command + " takes " + std::to_string(spec->arguments) + " argument" +
                        (spec->arguments == 1 ? "" : "s"));
  }
  return o;
}

std::string CliUsage() {
  return "Usage: vantlebld-cli [options] COMMAND [ARGS]\n"
         "\n"
         "Commands:\n"
         "  analyze FILE      check a HEX file and print its summary line\n"
         "  devices           list the PIC models of the device table\n"
         "\n"
         "Options:\n"
         "  --piccodes FILE   read this device table instead of piccodes.ini\n"
         "  --verbose         print detail lines too\n"
         "  --help            print this text\n"
         "  --version         print the program's version\n"
         "\n"
         "Exit codes: 0 done, 1 bad command line, 3 the job failed.\n";
}

}  // namespace vantlebld
