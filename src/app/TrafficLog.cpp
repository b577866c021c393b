// The controller traffic log: one time-stamped line per command sent and reply received.
#include <cstdio>

#include "app/BrekGSMDemoMain.h"
#include "common/Clock.h"
#include "common/CommonUtils.h"
#include "common/Exceptions.h"
#include "common/Guard.h"

namespace brek {
namespace {

std::string TrafficTimeStamp() {
  const LocalDateTime t = NowLocal();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year % 10000, t.month % 100,
                t.day % 100, t.hour % 100, t.minute % 100, t.second % 100, t.millisecond % 1000);
  return buffer;
}

}  // namespace

void TBrekGSMDemoMainForm::AppendTrafficLine(const char* marker, const std::string& text) {
  if (!TrafficLogFile_.Append(ControllerLogFileName, TrafficTimeStamp() + marker + text + "\r\n"))
    throw EInOutError("Cannot write the traffic log " + ControllerLogFileName);
  if (TrafficLogRelease_ && !TrafficLogRelease_->Enabled()) TrafficLogRelease_->SetEnabled(true);
}

void TBrekGSMDemoMainForm::AddOutControllerLog(const std::string& text) {
  Guarded("TBrekGSMDemoMainForm.AddOutControllerLog", [&] {
    if (!ControllerLogEnabled || text.empty()) return;
    AppendTrafficLine(" OUT: ", text);
  });
}

void TBrekGSMDemoMainForm::AddInpControllerLog(const std::string& text) {
  Guarded("TBrekGSMDemoMainForm.AddInpControllerLog", [&] {
    if (!ControllerLogEnabled || text.empty()) return;
    AppendTrafficLine(" IN:  ", text);
  });
}

void TBrekGSMDemoMainForm::ReleaseTrafficLog() {
  if (TrafficLogRelease_) TrafficLogRelease_->SetEnabled(false);
  // The closing of the last line written.
  Guarded("TBrekGSMDemoMainForm.AddOutControllerLog", [&] {
    if (!TrafficLogFile_.Release()) throw EInOutError("Cannot close the traffic log " + ControllerLogFileName);
  });
}

}  // namespace brek
