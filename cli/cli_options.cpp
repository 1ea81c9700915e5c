#include "cli/cli_options.h"

#include "engine/user_text.h"

#include <set>

namespace vantlebld {

namespace {

struct CommandSpec {
  const char* name;
  size_t arguments;  // positional arguments the command takes
};

constexpr CommandSpec kCommands[] = {
    {"analyze", 1}, {"devices", 0}, {"check", 0}, {"write", 1}, {"clear-all", 1},
    {"eeprom", 2},  {"config", 2},  {"ports", 0}, {"map", 1},   {"monitor", 0},
};

// Options that take a value.
const std::set<std::string> kValueOptions = {
    "piccodes",  "port",         "baud", "id",           "search-seconds", "timeout-ms", "rts-dtr",
    "stop-bits", "offline",      "udp",  "simulate",     "reset-signals",  "precodes",   "pic",
    "svg",       "monitor-baud", "eol",  "monitor-view", "dump",
};
// Options that stand alone; Values holds them with an empty value.
const std::set<std::string> kFlagOptions = {"ignore-until-k", "no-eeprom", "force", "monitor",
                                            "watch"};

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
  if (o.Help || o.Version) return o;
  if (positional.empty()) throw CliUsageError("no command given");
  o.Command = positional.front();
  const CommandSpec* command = FindCommand(o.Command);
  if (command == nullptr) throw CliUsageError("unknown command \"" + o.Command + "\"");
  o.Arguments.assign(positional.begin() + 1, positional.end());
  if (o.Arguments.size() != command->arguments) {
    throw CliUsageError(o.Command + " takes " + std::to_string(command->arguments) + " argument" +
                        (command->arguments == 1 ? "" : "s"));
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
  return "Usage: vantlebld-cli [options] COMMAND [ARGS]\n"
         "\n"
         "Commands:\n"
         "  analyze FILE      check a HEX file and print its summary line\n"
         "  devices           list the PIC models of the device table\n"
         "  check             find the bootloader after a reset and identify the PIC\n"
         "  write FILE        write a HEX file into the PIC (flash, then EEPROM)\n"
         "  clear-all FILE    fill all user flash with FFh, keeping the file's reset code\n"
         "  eeprom ADDR VALUE write one EEPROM location\n"
         "  config ADDR VALUE write one configuration location (PIC18, dsPIC30)\n"
         "  ports             list the serial ports, marking those in use as busy\n"
         "  map FILE          what a write of FILE would leave in the flash: ranges,\n"
         "                    bootloader zone, reset path, write plan; the model from\n"
         "                    --pic CODE, or identified over --port/--simulate\n"
         "  monitor           a plain terminal on --port: the PIC's bytes to stdout, typed\n"
         "                    bytes to the PIC (Enter as --eol); Ctrl+] ends it\n"
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
         "Link options (every job that talks to the PIC):\n"
         "  --port P              serial port: ttyUSB0, /dev/ttyUSB0, /dev/pts/3, or the\n"
         "                        adapter: usb:VID:PID (usb:0403:6001), serial:NUMBER;\n"
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
         "  --help            print this text\n"
         "  --version         print the program's version\n"
         "\n"
         "Exit codes: 0 done, 1 bad command line, 3 the job failed (on any board).\n";
}

}  // namespace vantlebld
