#include "ui/qt/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <algorithm>

#include "scripts/Resources.h"

namespace brek {
namespace {

QPixmap PixmapResource(const char* name, const char* type, const char* format) {
  QPixmap p;
  if (auto bytes = LoadModuleResource(name, type))
    p.loadFromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<uint>(bytes->size()), format);
  return p;
}

}  // namespace

QPixmap BackgroundPixmap() { return PixmapResource("BACKGROUND", "BITMAP", "BMP"); }

QIcon ProgramIcon() {
  QIcon icon;
  icon.addPixmap(PixmapResource("ICON16", "PNG", "PNG"));
  icon.addPixmap(PixmapResource("ICON32", "PNG", "PNG"));
  return icon;
}

MainWindow::MainWindow(MainWindowControls& controls, QtToolkit& toolkit)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      controls_(controls),
      toolkit_(toolkit) {
  setObjectName(QStringLiteral("BrekGSMDemoMainForm"));
  setFixedSize(kClientWidth, kClientHeight);
  setWindowIcon(ProgramIcon());
  setWindowTitle(ToQString(controls.Caption));
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  setFont(font);

  // Creation order is drawing order: the picture lowest.
  auto* picture = new QLabel(this);
  picture->setGeometry(controls.BackgroundImage.left, controls.BackgroundImage.top, controls.BackgroundImage.width,
                       controls.BackgroundImage.height);
  picture->setPixmap(BackgroundPixmap());
  MarkupLabelWidget* state = Bind(controls.ProgrammStateInfoLabel, this);
  Bind(controls.UserActionInfoLabel, this);
  for (TButton* b : controls.ButtonsInCreationOrder()) Bind(*b, new QPushButton(this));
  Bind(controls.ScriptProgressBar);
  // The bar is read as the state whose progress it shows.
  progress_->setAccessibleName(state->PlainText());
  controls.ProgrammStateInfoLabel.OnChanged = [this, state] {
    state->Refresh();
    progress_->setAccessibleName(state->PlainText());
  };

  panel_ = new QWidget(this);
  const Rect& pr = controls.SecurityCenterPanel.Bounds;
  panel_->setGeometry(pr.left, pr.top, pr.width, pr.height);
  panel_->setAutoFillBackground(true);
  auto applyPanelColor = [this] {
    QPalette pal = panel_->palette();
    const Color c = controls_.SecurityCenterPanel.GetColor();
    pal.setColor(QPalette::Window, QColor(c.r, c.g, c.b));
    panel_->setPalette(pal);
  };
  applyPanelColor();
  controls.SecurityCenterPanel.OnChanged = applyPanelColor;
  bound_.push_back(&controls.SecurityCenterPanel);
  for (THTMLabel* l : controls.PanelLabels()) Bind(*l, panel_);

  const auto order = controls.ButtonsInTabOrder();
  for (std::size_t i = 0; i + 1 < order.size(); ++i) setTabOrder(Button(*order[i]), Button(*order[i + 1]));
}

MainWindow::~MainWindow() {
  for (Control* c : bound_) c->OnChanged = nullptr;
}

void MainWindow::Bind(TButton& b, QPushButton* w) {
  w->setGeometry(b.Bounds.left, b.Bounds.top, b.Bounds.width, b.Bounds.height);
  auto refresh = [&b, w] {
    w->setText(ToQString(b.Caption()));
    w->setEnabled(b.Enabled());
  };
  refresh();
  b.OnChanged = refresh;
  QObject::connect(w, &QPushButton::clicked, [this, &b] { toolkit_.Dispatch([&b] { b.Click(); }); });
  buttons_.emplace_back(&b, w);
  bound_.push_back(&b);
}

MarkupLabelWidget* MainWindow::Bind(THTMLabel& l, QWidget* parent) {
  auto* w = new MarkupLabelWidget(l, parent);
  l.OnChanged = [w] { w->Refresh(); };
  bound_.push_back(&l);
  return w;
}

void MainWindow::Bind(TProgressBar& p) {
  progress_ = new QProgressBar(this);
  progress_->setGeometry(p.Bounds.left, p.Bounds.top, p.Bounds.width, p.Bounds.height);
  progress_->setTextVisible(false);  // the state label says what is going on
  auto refresh = [this, &p] {
    // The style has no paused or failed look; the dock's icon shows the failure.
    const int max = std::max(1, p.Max());
    progress_->setRange(0, max);
    progress_->setValue(std::clamp(p.Position(), 0, max));
    progress_->setVisible(p.Visible());
    launcher_.Show(p);
  };
  refresh();
  p.OnChanged = refresh;
  bound_.push_back(&p);
}

void MainWindow::BringToFront(const QString& activationToken) {
  if (!isVisible()) return;  // still starting: it shows itself in front
  // Qt's Wayland client activates with this token once, then drops it.
  if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
}

QPushButton* MainWindow::Button(const TButton& b) const {
  for (const auto& [control, widget] : buttons_)
    if (control == &b) return widget;
  return nullptr;
}

void MainWindow::closeEvent(QCloseEvent* e) {
  QWidget::closeEvent(e);
  if (e->isAccepted()) QCoreApplication::exit(0);
}

void MainWindow::showEvent(QShowEvent* e) {
  setWindowTitle(ToQString(controls_.Caption));
  QWidget::showEvent(e);
}

}  // namespace brek
