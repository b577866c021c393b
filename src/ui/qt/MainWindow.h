#pragma once
// The main window on Qt, drawn from the controls as data: the picture, the five push
// buttons, the two state labels and the bottom panel with its six labels.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <vector>

#include "ui/MainWindowLayout.h"
#include "ui/qt/LauncherEntry.h"
#include "ui/qt/QtMarkup.h"
#include "ui/qt/QtToolkit.h"

namespace brek {

class MainWindow : public QWidget {
 public:
  MainWindow(MainWindowControls& controls, QtToolkit& toolkit);
  ~MainWindow() override;

  QPushButton* Button(const TButton& b) const;
  QWidget* Panel() const { return panel_; }
  QProgressBar* ProgressBar() const { return progress_; }
  // Another start of the program asked for this window: to the front, un-minimised. The
  // token is the one the desktop gave that start (Wayland's activation token), if any.
  void BringToFront(const QString& activationToken);

 protected:
  void showEvent(QShowEvent* e) override;
  // A close that is accepted ends the event loop at once (QCoreApplication::exit): Qt's own
  // quit on the last window's close is a posted event that a window shown or a loop
  // entered before it is handled takes back.
  void closeEvent(QCloseEvent* e) override;

 private:
  void Bind(TButton& b, QPushButton* w);
  MarkupLabelWidget* Bind(THTMLabel& l, QWidget* parent);
  void Bind(TProgressBar& p);

  MainWindowControls& controls_;
  QtToolkit& toolkit_;
  QWidget* panel_ = nullptr;
  QProgressBar* progress_ = nullptr;
  LauncherEntry launcher_{QStringLiteral("brekgsmdemo.desktop")};
  std::vector<std::pair<const TButton*, QPushButton*>> buttons_;
  std::vector<Control*> bound_;
};

// The picture and icons the program carries.
QPixmap BackgroundPixmap();
QIcon ProgramIcon();

}  // namespace brek
