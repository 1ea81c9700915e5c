#include "app/map_window.h"

#include <QComboBox>
#include <QLabel>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QVBoxLayout>

#include "engine/map_svg.h"
#include "engine/memory_map.h"
#include "engine/user_text.h"

namespace vantlebld {

namespace {

// "$41  PIC18F252" lines of the device table list: the code, or 0.
uint8_t CodeOfListLine(const QString& line) {
  const auto code = ParseNumber(line.section(' ', 0, 0, QString::SectionSkipEmpty).toStdString());
  return code && *code > 0 && *code < 256 ? static_cast<uint8_t>(*code) : 0;
}

}  // namespace

TMapWindow::TMapWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      model_(new QComboBox(this)),
      status_(new QLabel(this)),
      picture_(new QSvgWidget(this)) {
  setWindowTitle("VantleBld - Map");
  TVantleBootloader table;  // the process's device table, read once
  for (const std::string& line : table.PicCodeList())
    model_->addItem(QString::fromStdString(line));
  // Until a job identifies the PIC, the user names it.
  model_->setCurrentIndex(-1);
  model_->setPlaceholderText("Choose the PIC");
  model_->setToolTip("The PIC the map is drawn for");
  status_->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(model_);
  layout->addWidget(status_);
  layout->addWidget(picture_, 1);
  resize(960, 440);
  connect(model_, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });
}

void TMapWindow::ShowMap(const std::string& hexFile, uint8_t identifiedCode, int32_t baud) {
  hexFile_ = hexFile;
  baud_ = baud;
  if (identifiedCode != 0) {
    for (int i = 0; i < model_->count(); ++i) {
      if (CodeOfListLine(model_->itemText(i)) == identifiedCode && i != model_->currentIndex()) {
        model_->setCurrentIndex(i);  // redraws
        return;
      }
    }
  }
  Redraw();
}

void TMapWindow::Redraw() {
  const uint8_t code = CodeOfListLine(model_->currentText());
  if (code == 0 || hexFile_.empty()) {
    status_->setText(code == 0 ? "Choose the PIC" : "Choose a HEX file");
    picture_->load(QByteArray());
    return;
  }
  // Called from Qt's signals: nothing may leave here as an exception.
  try {
    const TMemoryMap map = MapHexFile(code, hexFile_, baud_, true);
    status_->setText(map.Refused ? QString::fromStdString("A write would be refused: " + map.Reason)
                                 : QString::fromStdString(hexFile_));
    picture_->load(QByteArray::fromStdString(MapSvg(map)));
  } catch (const std::exception& e) {
    status_->setText(QString::fromStdString(e.what()));
    picture_->load(QByteArray());
  }
}

}  // namespace vantlebld
