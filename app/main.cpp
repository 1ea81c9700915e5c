// VantleBld: the window program.
#include "app/application.h"
#include "app/main_window.h"
#include "vantlebld_version.h"

int main(int argc, char** argv) {
  vantlebld::TApplication app(argc, argv);
  QApplication::setApplicationName("VantleBld");
  QApplication::setApplicationVersion(VANTLEBLD_VERSION);
  int code = 0;
  {
    vantlebld::TForm1 form(QApplication::arguments().mid(1));
    form.show();
    code = QApplication::exec();
    if (code == 0) code = form.ExitCode();
  }  // the window writes its settings as it is destroyed
  return code;
}
