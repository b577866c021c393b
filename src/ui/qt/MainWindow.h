#pragma once
// The main window on Qt, drawn from the controls as data: the picture, the five push
// buttons, the two state labels and the bottom panel with its six labels.
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <vector>

#include "ui/MainWindowLayout.h"
#include "ui/qt/QtMarkup.h"
#include "ui/qt/QtToolkit.h"

namespace brek {

class MainWindow : public QWidget {
 public:
  MainWindow(MainWindowControls& controls, QtToolkit& toolkit);
  ~MainWindow() override;

  QPushButton* Button(const TButton& b) const;
  QWidget* Panel() const { return panel_; }

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void Bind(TButton& b, QPushButton* w);
  void Bind(THTMLabel& l, QWidget* parent);

  MainWindowControls& controls_;
  QtToolkit& toolkit_;
  QWidget* panel_ = nullptr;
  std::vector<std::pair<const TButton*, QPushButton*>> buttons_;
  std::vector<Control*> bound_;
};

// The picture and icons the program carries.
QPixmap BackgroundPixmap();
QIcon ProgramIcon();

}  // namespace brek
