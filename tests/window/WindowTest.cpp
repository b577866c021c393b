// The real Qt window, rendered offscreen and checked pixel by pixel.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QImage>
#include <QPushButton>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/BrekGSMDemoMain.h"
#include "support/TestSupport.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtMarkup.h"
#include "ui/qt/QtToolkit.h"

namespace brek::test {
namespace {

int Luma(QRgb c) { return (qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114) / 1000; }

struct RegionStats {
  int bright = 0;        // pixels with luma above 200
  int darkest = 255;     // luma of the darkest pixel
  QRgb darkestColor = 0;
};

RegionStats Stats(const QImage& img, const Rect& r) {
  RegionStats s;
  for (int y = r.top; y < r.bottom(); ++y)
    for (int x = r.left; x < r.right(); ++x) {
      const QRgb c = img.pixel(x, y);
      const int l = Luma(c);
      if (l > 200) ++s.bright;
      if (l < s.darkest) {
        s.darkest = l;
        s.darkestColor = c;
      }
    }
  return s;
}

Rect InWindow(const THTMLabel& panelLabel) {
  Rect r = panelLabel.Bounds;
  r.top += 430;
  return r;
}

class Window : public Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    SetClockSource({});
    window = std::make_unique<MainWindow>(controls, toolkit);
    toolkit.SetMainWindow(window.get());
    form = std::make_unique<TBrekGSMDemoMainForm>(FormContext{&toolkit, &controls, (Dir() / "BrekGSMDemo").string()});
    QElapsedTimer t;
    t.start();
    while (!window->isVisible() && t.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(window->isVisible());
  }
  void TearDown() override {
    form.reset();
    toolkit.SetMainWindow(nullptr);
    window.reset();
    Sandbox::TearDown();
  }
  QImage Grab() {
    QApplication::processEvents();
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }

  QtToolkit toolkit;
  MainWindowControls controls;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<TBrekGSMDemoMainForm> form;
};

TEST_F(Window, FixedSizeLayoutAndTabOrder) {
  EXPECT_EQ(window->size(), QSize(640, 493));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->windowTitle().startsWith(QString::fromUtf8("Брек GSM: демонстрация работы. Версия")));
  EXPECT_EQ(window->Button(controls.MoneyLittleButton)->geometry(), QRect(340, 315, 165, 25));
  EXPECT_EQ(window->Button(controls.EndDemoButton)->geometry(), QRect(30, 377, 199, 25));
  EXPECT_EQ(window->Panel()->geometry(), QRect(0, 430, 640, 63));
  // Focus moves Start, Little, Off, Full, End.
  QWidget* w = window->Button(controls.StartDemoButton);
  std::vector<QWidget*> order;
  for (int i = 0; i < 5; ++i, w = w->nextInFocusChain()) {
    while (!qobject_cast<QPushButton*>(w)) w = w->nextInFocusChain();
    order.push_back(w);
  }
  EXPECT_EQ(order, (std::vector<QWidget*>{window->Button(controls.StartDemoButton), window->Button(controls.MoneyLittleButton),
                                          window->Button(controls.MoneyOffButton), window->Button(controls.MoneyFullButton),
                                          window->Button(controls.EndDemoButton)}));
  EXPECT_EQ(QFontInfo(ToQFont(controls.ObjectsTitleLabel.Style.font)).family(), QStringLiteral("Tahoma"));
}

TEST_F(Window, WaitingWindowShowsWhiteStateTextAndGreyPanel) {
  const QImage img = Grab();
  EXPECT_EQ(img.pixel(5, 440), qRgb(243, 245, 246));
  EXPECT_EQ(img.pixel(635, 490), qRgb(243, 245, 246));
  const RegionStats state = Stats(img, controls.ProgrammStateInfoLabel.Bounds);
  EXPECT_GT(state.bright, 60) << "white text over the dark picture";
  const RegionStats title = Stats(img, InWindow(controls.ObjectsTitleLabel));
  EXPECT_GT(title.darkest, 120) << "greyed title is never black";
  EXPECT_LT(title.darkest, 200) << "but it is drawn";
  for (TButton* b : controls.ButtonsInCreationOrder()) EXPECT_FALSE(window->Button(*b)->isEnabled());
  img.save(QString::fromStdString((Dir() / "waiting.png").string()));
}

TEST_F(Window, ActivePanelDrawsBlackTitlesAndTheAccount) {
  form->CurrentState = psDemoLoaded;
  form->AccountNumber = 7;
  form->ShowCurrentState();
  const QImage img = Grab();
  const RegionStats title = Stats(img, InWindow(controls.ObjectsTitleLabel));
  EXPECT_LT(title.darkest, 60) << "active titles are in the label's own black";
  const RegionStats value = Stats(img, InWindow(controls.ObjectsValueLabel));
  EXPECT_LT(value.darkest, 60);
  EXPECT_TRUE(window->Button(controls.MoneyLittleButton)->isEnabled());
  EXPECT_FALSE(window->Button(controls.StartDemoButton)->isEnabled());
}

TEST_F(Window, ScriptProgressBarTakesTheEmptyActionAreaOfTheLoadingStates) {
  const Rect bar = controls.ScriptProgressBar.Bounds;
  auto overlap = [](const Rect& a, const Rect& b) {
    return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
  };
  for (TButton* b : controls.ButtonsInCreationOrder()) EXPECT_FALSE(overlap(bar, b->Bounds)) << b->Caption();
  EXPECT_FALSE(overlap(bar, controls.ProgrammStateInfoLabel.Bounds));
  EXPECT_FALSE(overlap(bar, controls.SecurityCenterPanel.Bounds));
  EXPECT_FALSE(window->ProgressBar()->isVisible());
  for (TProgrammState state : {psLoadDemo, psLoadFtdef}) {
    form->CurrentState = state;
    form->ShowCurrentState();
    // It covers the action hint, which these states leave empty.
    if (overlap(bar, controls.UserActionInfoLabel.Bounds)) {
      EXPECT_EQ(controls.UserActionInfoLabel.HTMLText(), "");
    }
    const QImage before = Grab();
    controls.ScriptProgressBar.Set(true, 1, 2, TProgressBar::Mode::Normal);
    const QImage during = Grab();
    QRect changed;
    for (int y = 0; y < before.height(); ++y)
      for (int x = 0; x < before.width(); ++x)
        if (before.pixel(x, y) != during.pixel(x, y)) changed |= QRect(x, y, 1, 1);
    EXPECT_EQ(changed, QRect(bar.left, bar.top, bar.width, bar.height)) << "drawn exactly where its bounds say";
    const int mid = bar.top + bar.height / 2;
    EXPECT_NE(during.pixel(bar.left + bar.width / 4, mid), during.pixel(bar.left + bar.width * 3 / 4, mid))
        << "half of it filled";
    controls.ScriptProgressBar.Hide();
    EXPECT_EQ(Grab(), before) << "and gone without a trace";
  }
}

TEST_F(Window, EveryTextFitsItsLabelInEveryState) {
  // Lines below a label's box are clipped away unseen, so a long caption would lose its tail.
  const QtFontMetrics metrics;
  std::vector<THTMLabel*> labels = controls.PanelLabels();
  labels.push_back(&controls.ProgrammStateInfoLabel);
  labels.push_back(&controls.UserActionInfoLabel);
  for (int state = psWaitConnect; state <= psLoadFtdef; ++state) {
    form->CurrentState = static_cast<TProgrammState>(state);
    form->AccountNumber = 8888;
    form->ShowCurrentState();
    for (const THTMLabel* l : labels) {
      // Laid out with no bottom, the text must need no more than the label's height.
      const MarkupLayout layout = LayoutMarkup(l->HTMLText(), l->Style, {0, 0, l->Bounds.width, 10000}, metrics);
      EXPECT_LE(layout.height, l->Bounds.height) << "state " << state << ": " << l->HTMLText();
    }
  }
}

TEST_F(Window, AScreenReaderReadsEachLabelsPlainTextInEveryState) {
  const std::string on = "Брек GSM подключен.\n", grey = "||Объекты|——|Телефон call-центра|——|Доступ в облачные сервисы|——";
  const std::string loaded = on + "Демонстрационные настройки записаны в прибор, можно начинать демонстрацию.|Выберите ситуацию на объекте:|"
                             "Объекты|8888, 8889|Телефон call-центра|+7 800 000-00-00, доб. 1|Доступ в облачные сервисы|demo+8888@nb.test  |  demo8888";
  const std::string table[] = {  // each state's text, hint and panel as read, in order
      "Брек GSM не подключен.\nПроверьте, что драйвера для прибора установлены на компьютер, и подключите Брек GSM к компьютеру." + grey,
      on + "Необходимо обновить версию программного обеспечения прибора." + grey,
      on + "Для того, чтобы начать демонстрацию, нужно записать в прибор демонстрационные настройки." + grey,
      on + "Запись демонстрационных настроек..." + grey, loaded, loaded, loaded, loaded, on + "Запись заводских настроек..." + grey};
  QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window.get());
  for (int state = psWaitConnect; state <= psLoadFtdef; ++state) {
    form->CurrentState = static_cast<TProgrammState>(state);
    form->AccountNumber = 8888;
    form->ShowCurrentState();
    QStringList read;  // the window's static texts, then the panel's (its last child)
    for (QAccessibleInterface* in : {top, top->child(top->childCount() - 1)})
      for (int i = 0; i < in->childCount(); ++i)
        if (in->child(i)->role() == QAccessible::StaticText) read << in->child(i)->text(QAccessible::Name);
    EXPECT_EQ(read.join('|').toStdString(), table[state]) << state;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window->ProgressBar())->text(QAccessible::Name), read[0]);
  }
}

TEST_F(Window, TimersKeepTheirIntervalsToTheMillisecond) {
  // Coarse timers would round the 60000 ms reply time-out to whole seconds.
  EXPECT_EQ(QtToolkit::TimerTypeOf(*form->CheckPortsTimer), Qt::PreciseTimer);
  EXPECT_EQ(QtToolkit::TimerTypeOf(*form->SendCommandTimer), Qt::PreciseTimer);
  EXPECT_EQ(form->SendCommandTimer->Interval(), 60000u);
}

TEST_F(Window, AClickReachesTheControllerAndEscapingExceptionsAreLogged) {
  bool clicked = false;
  controls.MoneyFullButton.SetEnabled(true);
  controls.MoneyFullButton.OnClick = [&] {
    clicked = true;
    throw std::runtime_error("from a click");
  };
  window->Button(controls.MoneyFullButton)->click();
  EXPECT_TRUE(clicked);
  const auto log = ErrorLogLines(Dir() / "ErrorLog.log");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("TBrekGSMDemoMainForm.OnApplicationException. Exception std::runtime_error"), std::string::npos);
}

TEST_F(Window, ItsCloseEndsTheLoopThoughAWaitRunsBeforeTheQuitIsHandled) {
  // Qt's quit on the last window's close is a posted event that a loop entered (or a window
  // shown) before it is handled takes back; here the program's own wait runs right after.
  QTimer::singleShot(0, [this] {
    window->close();
    toolkit.ProcessMessagesFor(1);
  });
  QTimer::singleShot(3000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QApplication::exec(), 0);
}

TEST_F(Window, ADockBusThatNeverAnswersNeverHoldsTheWindow) {
  QElapsedTimer t;
  t.start();
  controls.ScriptProgressBar.Set(true, 1, 2, TProgressBar::Mode::Normal);
  controls.ScriptProgressBar.Hide();
  EXPECT_LT(t.elapsed(), 1000);
}

}  // namespace
}  // namespace brek::test

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // A session bus that takes the connection and never answers it.
  const int bus = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  snprintf(at.sun_path, sizeof at.sun_path, "/tmp/brek-mute-bus-%d", getpid());
  unlink(at.sun_path);
  if (bind(bus, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(bus, 8) == 0)
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=") + at.sun_path);
  brek::BrekApplication app(argc, argv);
  brek::EnsureTahoma();
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  close(bus);  // its connection fails now, and Qt's bus thread ends
  unlink(at.sun_path);
  return rc;
}
