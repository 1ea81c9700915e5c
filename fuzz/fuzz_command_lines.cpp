// The three command lines: the input split into arguments at 00h bytes and
// line ends, read as the CLI's, the window's and the virtual PIC's.
#include "app/command_line.h"
#include "cli/cli_options.h"
#include "fuzz/fuzz_support.h"
#include "sim/sim_options.h"

using namespace vantlebld;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = fuzz::Split(fuzz::Text(data, size), std::string("\0\n", 2));

  try {
    const CliOptions o = ParseCli(args);
    // The numbers the CLI reads from its options, with its bounds.
    o.Number("baud", 0, 1, 100000000);
    o.Number("search-seconds", 0, 1, 3600);
    o.Number("timeout-ms", 0, 1, 60000);
    o.Number("id", 0, 0, 0xFFFFFFFF);
    o.Number("stop-bits", 1, 1, 2);
  } catch (const CliUsageError&) {
    // a command line the CLI refuses with its usage
  }

  const TCommandLine c = ParseCommandLine(args);
  if ((c.ExitCode != 0) != !c.Error.empty() || (c.ExitCode != 0 && c.ExitCode != 1))
    fuzz::Finding("exit code " + std::to_string(c.ExitCode) + " with error \"" + c.Error + "\"");

  try {
    const TSimCommandLine s = ParseSimCommandLine(args);
    if (s.Code == 0 && !s.Help) fuzz::Finding("the virtual PIC has no type code");
  } catch (const TSimUsageError&) {
    // a command line the virtual PIC refuses with its usage
  }
  return 0;
}
