// The application object: the general error report. An error that escapes
// a window event handler (outside the jobs, which report their own) shows
// its message in a modal box, and the program carries on.
#pragma once

#include <QApplication>

namespace vantlebld {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vantlebld
