#include "app/application.h"

#include <QMessageBox>
#include <exception>

namespace vantlebld {

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    QMessageBox::critical(activeWindow(), applicationName(), QString::fromLocal8Bit(e.what()));
  }
  return false;
}

}  // namespace vantlebld
