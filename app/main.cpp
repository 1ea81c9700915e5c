// VantleBld: the window program.
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/main_window.h"
#include "app/window_text.h"
#include "vantlebld_version.h"

int main(int argc, char** argv) {
  // --help and --version need no display.
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("vantlebld %s\n", VANTLEBLD_VERSION);
    return 0;
  }
  if (vantlebld::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc)).Help) {
    std::printf("VantleBld %s\n%s", VANTLEBLD_VERSION, vantlebld::CommandLineUsage().c_str());
    return 0;
  }
  vantlebld::TApplication app(argc, argv);
  QApplication::setApplicationName("VantleBld");
  QApplication::setApplicationVersion(VANTLEBLD_VERSION);
  const QStringList args = QApplication::arguments().mid(1);  // without Qt's own options
  // A script that calls the program reads why it refused its command line.
  const vantlebld::TCommandLine commandLine =
      vantlebld::ParseCommandLine(vantlebld::ToStdList(args));
  if (commandLine.ExitCode != 0) {
    std::fprintf(stderr, "vantlebld: %s\n%s", commandLine.Error.c_str(),
                 vantlebld::CommandLineUsage().c_str());
  }
  int code = 0;
  {
    vantlebld::TForm1 form(args);
    form.show();
    code = QApplication::exec();
    if (code == 0) code = form.ExitCode();
  }  // the window writes its settings as it is destroyed
  return code;
}
