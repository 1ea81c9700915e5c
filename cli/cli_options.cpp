#include "cli/cli_options.h"

#include <algorithm>
#include <set>

#include "engine/user_text.h"

namespace vantlebld {

namespace {

// Options that take a value.
const std::set<std::string> kValueOptions = {
    "piccodes",  "port",         "baud", "id",           "search-seconds", "timeout-ms", "rts-dtr",
    "stop-bits", "offline",      "udp",  "simulate",     "reset-signals",  "precodes",   "pic",
    "svg",       "monitor-baud", "eol",  "monitor-view", "dump",           "report",
};
// Options that stand alone; Values holds them with an empty value.
const std::set<std::string> kFlagOptions = {"ignore-until-k", "no-eeprom", "force", "monitor",
                                            "watch"};

// The options a command takes beyond --piccodes and --verbose, by group.
const std::vector<std::string> kMonitorGroup = {"--monitor-baud N", "--eol cr|lf|crlf",
                                                "--monitor-view raw|hex", "--dump FILE"};
// Where the PIC is, for the jobs that talk to it.
const std::vector<std::string> kBoardGroup = {"--port P (again for more boards)", "--simulate CODE",
                                              "--offline CODE", "--udp HOST:PORT (with --offline)"};
// How the link talks to the bootloader.
const std::vector<std::string> kLinkGroup = {
    "--baud N",        "--id CODE",        "--search-seconds S",
    "--timeout-ms MS", "--ignore-until-k", "--rts-dtr off|on|keep",
    "--stop-bits 1|2", "--precodes CODES", "--reset-signals SCRIPT"};

struct CommandSpec {
  const char* name;
  size_t arguments;      // positional arguments the command takes
  const char* synopsis;  // the command with its arguments: "write FILE"
  // What it does, in lines of the usage's Commands list.
  std::vector<std::string> summary;
  std::vector<std::string> own;  // options only this command (or few) take
  bool monitor = false;          // takes the monitor options
  bool link = false;             // takes the link options
  bool board = link;             // the PIC named by --port, --simulate, --offline or --udp
};

// clang-format off
const std::vector<CommandSpec> kCommands = {
    {"analyze", 1, "analyze FILE", {"check a HEX file and print its summary line"}, {}},
    {"devices", 0, "devices", {"list the PIC models of the device table"}, {}},
    {"check", 0, "check", {"find the bootloader after a reset and identify the PIC"}, {},
     false, true},
    {"write", 1, "write FILE", {"write a HEX file into the PIC (flash, then EEPROM)"},
     {"--no-eeprom", "--force", "--monitor", "--watch"}, true, true},
    {"clear-all", 1, "clear-all FILE",
     {"fill all user flash with FFh, keeping the file's reset code"}, {"--no-eeprom", "--force"},
     false, true},
    {"eeprom", 2, "eeprom ADDR VALUE", {"write one EEPROM location"}, {}, false, true},
    {"config", 2, "config ADDR VALUE", {"write one configuration location (PIC18, dsPIC30)"}, {},
     false, true},
    {"ports", 0, "ports", {"list the serial ports, marking those in use as busy"}, {}},
    {"map", 1, "map FILE",
     {"what a write of FILE would leave in the flash: ranges,",
      "bootloader zone, reset path, write plan; the model from",
      "--pic CODE, or identified over --port/--simulate"},
     {"--pic CODE", "--port P", "--simulate CODE", "--svg FILE", "--no-eeprom"}, false, true,
     false},
    {"monitor", 0, "monitor",
     {"a plain terminal on --port: the PIC's bytes to stdout, typed",
      "bytes to the PIC (Enter as --eol); Ctrl+] ends it"},
     {"--port P", "--baud N", "--rts-dtr off|on|keep", "--stop-bits 1|2"}, true, false},
};
// clang-format on

const CommandSpec* FindCommand(const std::string& name) {
  for (const auto& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

CliUsageError UnknownCommand(const std::string& name) {
  std::string known;
  for (const auto& c : kCommands)
    known += std::string(known.empty() ? "" : ", ") + c.name;
  return CliUsageError("unknown command \"" + name + "\"; the commands are " + known + " and help");
}

// "title item, item, ..." in lines of at most 79 columns, the later ones
// indented by two.
std::string Wrapped(const std::string& title, const std::vector<std::string>& items) {
  constexpr size_t kWidth = 79;
  std::string text, line = title;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string item = items[i] + (i + 1 < items.size() ? "," : "");
    if (i > 0 && line.size() + 1 + item.size() > kWidth) {
      text += line + "\n";
      line = " ";
    }
    line += " " + item;
  }
  return text + line + "\n";
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
    if (kFlagOptions.count(name) != 0) {
      if (hasValue) throw CliUsageError("--" + name + " takes no value");
      o.Values[name] = "";
      continue;
    }
    if (kValueOptions.count(name) == 0) throw CliUsageError("unknown option --" + name);
    if (!hasValue) {
      if (i + 1 >= args.size()) throw CliUsageError("--" + name + " needs a value");
      value = args[++i];
    }
    o.Values[name] = value;
    if (name == "port") o.Ports.push_back(value);
  }
  // "help [COMMAND]" is --help by another name.
  if (!positional.empty() && positional.front() == "help") {
    if (positional.size() > 2) throw CliUsageError("help takes one command at most");
    o.Help = true;
    positional.erase(positional.begin());
  }
  // --help with a command asks for that command's usage; its arguments
  // need not be complete.
  if (o.Help && !positional.empty()) {
    if (FindCommand(positional.front()) == nullptr) throw UnknownCommand(positional.front());
    o.Command = positional.front();
  }
  if (o.Help || o.Version) return o;
  if (positional.empty()) throw CliUsageError("no command given");
  o.Command = positional.front();
  const CommandSpec* command = FindCommand(o.Command);
  if (command == nullptr) throw UnknownCommand(o.Command);
  o.Arguments.assign(positional.begin() + 1, positional.end());
  if (o.Arguments.size() != command->arguments) {
    throw CliUsageError(o.Command + " takes " + std::to_string(command->arguments) + " argument" +
                        (command->arguments == 1 ? "" : "s") + " (" + command->synopsis +
                        "), not " + std::to_string(o.Arguments.size()));
  }
  return o;
}

int64_t CliOptions::Number(const std::string& name, int64_t fallback, int64_t min,
                           int64_t max) const {
  if (!Has(name)) return fallback;
  const auto value = ParseNumber(Value(name));
  if (!value || *value < min || *value > max) {
    throw CliUsageError("--" + name + " needs a number from " + std::to_string(min) + " to " +
                        std::to_string(max) + ", not \"" + Value(name) + "\"");
  }
  return *value;
}

std::string CliUsage() {
  std::string commands;
  for (const auto& c : kCommands) {
    std::string name = c.synopsis;
    name.resize(std::max<size_t>(name.size() + 1, 18), ' ');
    for (size_t i = 0; i < c.summary.size(); ++i)
      commands += "  " + (i == 0 ? name : std::string(18, ' ')) + c.summary[i] + "\n";
  }
  return "Usage: vantlebld-cli [options] COMMAND [ARGS]\n"
         "       vantlebld-cli COMMAND --help, vantlebld-cli help COMMAND: its usage\n"
         "\n"
         "Commands:\n" +
         commands +
         "\n"
         "Write options:\n"
         "  --no-eeprom           write the flash only\n"
         "  --force               write a HEX file that belongs to another PIC family\n"
         "  --monitor             after WRITE OK keep the port open as the monitor command\n"
         "  --watch               --monitor, and write again whenever the HEX file has\n"
         "                        changed and stood still for 300 ms (remote reset first)\n"
         "\n"
         "Monitor options:\n"
         "  --monitor-baud N      switch the link to the program's baud rate first\n"
         "  --eol cr|lf|crlf      what Enter sends (cr)\n"
         "  --monitor-view raw|hex  the PIC's bytes as they are, or as hex (\"41 0D \")\n"
         "  --dump FILE           also write every byte received into FILE\n"
         "\n"
         "Map options:\n"
         "  --pic CODE            the model by its type code (41h), with no link\n"
         "  --svg FILE            also draw the map as an SVG picture\n"
         "\n"
         "Report option (check, write, clear-all, eeprom, config):\n"
         "  --report FILE         at the end write what the job came to on each board as\n"
         "                        JSON (schema version 1), also when a board failed\n"
         "\n"
         "Link options (every job that talks to the PIC):\n"
         "  --port P              serial port: ttyUSB0, /dev/ttyUSB0, /dev/pts/3, or the\n"
         "                        adapter: usb:VID:PID (usb:0403:6001), serial:NUMBER,\n"
         "                        or a port on another machine: rfc2217://HOST:PORT;\n"
         "                        several --port (or a usb: id that matches several\n"
         "                        adapters) work on every board at once\n"
         "  --baud N              baud rate (115200)\n"
         "  --id CODE             activation byte sent to the bootloader (C1h)\n"
         "  --search-seconds S    how long to search (7)\n"
         "  --timeout-ms MS       probe interval and answer time-out (300)\n"
         "  --ignore-until-k      skip bytes the PIC sends before its answer\n"
         "  --rts-dtr off|on|keep control lines after opening the port (on)\n"
         "  --stop-bits 1|2       stop bits (1)\n"
         "  --precodes CODES      bytes that ask the running program to reset (\"128 80h\"),\n"
         "                        sent after opening, then a 100 ms pause\n"
         "  --reset-signals SCRIPT  then D/d raise/lower DTR, R/r RTS, 10 ms each\n"
         "  --offline CODE        no link: take the PIC with this type code\n"
         "  --udp HOST:PORT       send to a UDP listener instead (with --offline)\n"
         "  --simulate CODE       work against a virtual PIC on a pseudo-terminal\n"
         "\n"
         "Options:\n"
         "  --piccodes FILE   read this device table instead of piccodes.ini\n"
         "  --verbose         print detail lines too\n"
         "  --help            print this text (after a command: that command's usage)\n"
         "  --version         print the program's version\n"
         "\n"
         "Exit codes: 0 done, 1 bad command line, 3 the job failed (on any board),\n"
         "4 the job succeeded but its --report could not be written.\n";
}

std::string CliCommandUsage(const std::string& name) {
  const CommandSpec* c = FindCommand(name);
  if (c == nullptr) return CliUsage();
  std::string text = "Usage: vantlebld-cli " + std::string(c->synopsis) + " [options]\n";
  for (const auto& line : c->summary)
    text += line + "\n";
  text += "\n";
  if (c->board) text += Wrapped("The PIC (one of):", kBoardGroup);
  if (!c->own.empty()) text += Wrapped("Options:", c->own);
  if (c->monitor) text += Wrapped("Monitor:", kMonitorGroup);
  if (c->link) text += Wrapped("Link:", kLinkGroup);
  if (c->board) text += "Report: --report FILE\n";
  return text +
         "Any command: --piccodes FILE, --verbose\n"
         "What each option does: vantlebld-cli --help\n";
}

std::string CliUsageHint() {
  return "Try 'vantlebld-cli --help' (or 'vantlebld-cli COMMAND --help').\n";
}

}  // namespace vantlebld
