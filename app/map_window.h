// The memory map of the chosen HEX file as a picture, in a window of its
// own beside the main window: the model of the last identified PIC, or the
// one the user picks from the device table.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

class QComboBox;
class QLabel;
class QSvgWidget;

namespace vantlebld {

class TMapWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TMapWindow(QWidget* parent);

  // Draws the map of hexFile at baud; identifiedCode picks the model when
  // it is not 0, otherwise the box keeps the user's choice.
  void ShowMap(const std::string& hexFile, uint8_t identifiedCode, int32_t baud);

  QComboBox* Model() const { return model_; }
  QSvgWidget* Picture() const { return picture_; }
  QLabel* Status() const { return status_; }

 private:
  void Redraw();

  QComboBox* model_;
  QLabel* status_;
  QSvgWidget* picture_;
  std::string hexFile_;
  int32_t baud_ = 0;
};

}  // namespace vantlebld
