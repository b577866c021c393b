#pragma once
// The toolkit seam on Qt: window timers are QTimers, posted calls are queued to the
// application object, and every handler runs under the application's exception hook.
#include <QApplication>
#include <QWidget>

#include "ui/Toolkit.h"

namespace brek {

class QtToolkit : public Toolkit {
 public:
  QtToolkit();
  ~QtToolkit() override;

  void SetMainWindow(QWidget* window) { window_ = window; }

  std::unique_ptr<Timer> CreateTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer) override;
  void PostToUiThread(std::function<void()> call) override;
  void Sleep(unsigned ms) override;
  void ProcessMessagesFor(unsigned ms) override;
  void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowMainWindow() override;
  void CloseMainWindow() override;
  void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) override;

  // Runs a handler as every event of ours is run.
  void Dispatch(const std::function<void()>& call) const;
  void HandleException(const std::exception& e) const;

  static QtToolkit* Instance();
  // The kind of Qt timer behind one of ours.
  static Qt::TimerType TimerTypeOf(const Timer& timer);

 private:
  QWidget* window_ = nullptr;
  std::function<void(const std::exception&)> onException_;
};

// The application object: an exception that escapes any event handler goes to the
// toolkit's exception hook instead of crossing Qt's event loop.
class BrekApplication : public QApplication {
 public:
  BrekApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override;
};

QString ToQString(const std::string& cp1251);

}  // namespace brek
