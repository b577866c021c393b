#include "ui/qt/QtToolkit.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <thread>

#include "common/Cp1251.h"

namespace brek {
namespace {

QtToolkit* gInstance = nullptr;

class QtTimer : public Timer {
 public:
  QtTimer(const QtToolkit& toolkit, unsigned interval, std::function<void()> onTimer)
      : timer_(new QTimer), onTimer_(std::make_shared<std::function<void()>>(std::move(onTimer))) {
    // Qt's default coarse timer would make the 60000 ms reply time-out a whole-second timer
    // and let the 5000 ms check drift by 5 %.
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(static_cast<int>(interval));
    auto handler = onTimer_;
    const QtToolkit* tk = &toolkit;
    QObject::connect(timer_, &QTimer::timeout, [tk, handler] { tk->Dispatch(*handler); });
  }
  ~QtTimer() override {
    // The handler may be releasing this very timer from inside its tick.
    timer_->stop();
    timer_->disconnect();
    timer_->deleteLater();
  }
  void SetEnabled(bool enabled) override {
    if (enabled && !timer_->isActive()) timer_->start();
    if (!enabled) timer_->stop();
  }
  bool Enabled() const override { return timer_->isActive(); }
  void SetInterval(unsigned ms) override { timer_->setInterval(static_cast<int>(ms)); }
  unsigned Interval() const override { return static_cast<unsigned>(timer_->interval()); }
  Qt::TimerType Type() const { return timer_->timerType(); }

 private:
  QTimer* timer_;
  std::shared_ptr<std::function<void()>> onTimer_;
};

}  // namespace

QString ToQString(const std::string& cp1251) {
  const std::u16string u = Cp1251ToUtf16(cp1251);
  return QString::fromUtf16(u.data(), static_cast<qsizetype>(u.size()));
}

QtToolkit::QtToolkit() { gInstance = this; }
QtToolkit::~QtToolkit() {
  if (gInstance == this) gInstance = nullptr;
}
QtToolkit* QtToolkit::Instance() { return gInstance; }

Qt::TimerType QtToolkit::TimerTypeOf(const Timer& timer) {
  const auto* t = dynamic_cast<const QtTimer*>(&timer);
  return t ? t->Type() : Qt::CoarseTimer;
}

std::unique_ptr<Timer> QtToolkit::CreateTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer) {
  auto timer = std::make_unique<QtTimer>(*this, intervalMs, std::move(onTimer));
  timer->SetEnabled(enabled);
  return timer;
}

void QtToolkit::PostToUiThread(std::function<void()> call) {
  QMetaObject::invokeMethod(
      qApp, [this, call = std::move(call)] { Dispatch(call); }, Qt::QueuedConnection);
}

void QtToolkit::Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void QtToolkit::ProcessMessagesFor(unsigned ms) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

void QtToolkit::ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  QMessageBox box((flags & MB_ICONERROR) ? QMessageBox::Critical : QMessageBox::NoIcon, ToQString(caption),
                  ToQString(text), QMessageBox::Ok, window_ && window_->isVisible() ? window_ : nullptr);
  box.exec();
}

void QtToolkit::ShowMainWindow() {
  if (!window_) return;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
  }
  window_->show();
}

void QtToolkit::CloseMainWindow() {
  if (window_) window_->close();
  // Also before the loop runs (a failed start-up), and for a window never shown: queued, and
  // an exit that no window shown later takes back.
  QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void QtToolkit::SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) {
  onException_ = std::move(handler);
}

void QtToolkit::Dispatch(const std::function<void()>& call) const { DispatchGuarded(call, onException_); }

void QtToolkit::HandleException(const std::exception& e) const { HandleApplicationException(e, onException_); }

bool BrekApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    if (QtToolkit* tk = QtToolkit::Instance()) tk->HandleException(e);
  } catch (...) {
  }
  return false;
}

}  // namespace brek
