// The waits of the dialogue's steps (DialogueSteps.h): every question has an end. A
// panel's USB side appears before its firmware reads and a line can be lost, so the
// connection's questions are asked again after a silence, never sooner than the panel has
// shown it answers (a re-ask behind an answer still to come only queues up). A panel that
// has sent a byte is alive: the let-go counts from its last byte. A plain step ends with its
// answer or at 10 s, never at a silence: an answer still to come would pay the next line.
#include <algorithm>

#include "app/BrekGSMDemoMain.h"
#include "common/CommonUtils.h"
#include "common/Guard.h"
#include "serial/ComPortKX.h"

namespace brek {
namespace {
constexpr unsigned kAskAgainAfterMs = 1000;
// A connection question without a byte from the panel for this long lets go of the port
// (asked at 0, 1, 3 and 7 s); one the panel keeps talking around is given up at the limit.
constexpr std::uint64_t kLetGoAfterSilenceMs = 10000;
constexpr std::uint64_t kQuestionLimitMs = 30000;
// A line whose answer only tells that it was taken holds the next one this long at most.
constexpr std::uint64_t kPlainAnswerLimitMs = 10000;
// After its key line, how long its "OK" is waited for before the next line goes.
constexpr std::uint64_t kOkAfterKeyLineMs = 300;
}  // namespace

unsigned TBrekGSMDemoMainForm::SilenceBoundMs() const {
  return static_cast<unsigned>(std::max<std::uint64_t>(kAskAgainAfterMs, 2 * AnswerTimeMs_));
}

bool TBrekGSMDemoMainForm::Ask(Step step, const std::string& command) {
  const std::uint64_t now = NowMs();
  Asked_ = Question{};
  Asked_.step = step;
  Asked_.opening = Opening_;
  Asked_.command = command;
  Asked_.askedAtMs = Asked_.lastAskAtMs = now;
  Asked_.askAgainAfterMs = SilenceBoundMs();
  LastCommand = command;
  // What has come in so far, read or not, came before this line.
  Asked_.afterByte = Consumed_ + static_cast<std::uint64_t>(ComPort ? ComPort->ReceivedBytes() : 0);
  Asked_.block = SendCommand(command);
  // Its waits start once it is written (a port that is not open writes nothing: at once).
  Asked_.inFlight = Asked_.block != 0;
  Asked_.written = !Asked_.inFlight;
  ArmQuestionTimer();
  return QuestionOpen();
}

std::uint64_t TBrekGSMDemoMainForm::KeyLineEndsAtMs() const {
  return std::min(Asked_.keyAtMs + std::max(kOkAfterKeyLineMs, AnswerTimeMs_), Asked_.askedAtMs + kPlainAnswerLimitMs);
}

void TBrekGSMDemoMainForm::AskAgain() {
  Asked_.lastAskAtMs = NowMs();
  Asked_.askAgainAfterMs *= 2;
  // Without the empty line: a firmware that answers it would have that answer come while a
  // later question is open.
  LastCommand = Asked_.command;
  Asked_.block = SendCommand(LastCommand);
  Asked_.inFlight = Asked_.block != 0;
}

void TBrekGSMDemoMainForm::Answered() {
  // From the latest asking: earlier ones may have been lost (a panel still starting).
  AnswerTimeMs_ = std::max(AnswerTimeMs_, NowMs() - Asked_.lastAskAtMs);
  SilentPortReported_ = -1;
  CutLineReported_ = false;
  Asked_ = Question{};
  if (QuestionTimer) QuestionTimer->SetEnabled(false);
}

void TBrekGSMDemoMainForm::ArmQuestionTimer() {
  if (!QuestionTimer) return;
  QuestionTimer->SetEnabled(false);
  // A script command's wait is the send-command timer's; a line still with the port is
  // bounded by the write.
  if (!QuestionOpen() || Asked_.step == Step::ScriptCommand || Asked_.inFlight) return;
  const std::uint64_t now = NowMs();
  const std::uint64_t quietFrom = std::max(Asked_.lastAskAtMs, LastByteAtMs_);
  std::uint64_t due = Asked_.askedAtMs + kPlainAnswerLimitMs;
  if (Asked_.keyAtMs) due = std::min(due, KeyLineEndsAtMs());
  if (AskedAgain(Asked_.step))
    due = std::min({quietFrom + Asked_.askAgainAfterMs, std::max(OpenedAtMs_, LastByteAtMs_) + kLetGoAfterSilenceMs,
                    Asked_.askedAtMs + kQuestionLimitMs});
  QuestionTimer->SetInterval(static_cast<unsigned>(std::max<std::uint64_t>(due > now ? due - now : 0, 1)));
  QuestionTimer->SetEnabled(true);
}

void TBrekGSMDemoMainForm::OnQuestionTimer() {
  Guarded("TBrekGSMDemoMainForm.OnQuestionTimer", [&] {
    QuestionTimer->SetEnabled(false);
    if (!QuestionOpen() || !PortOpen()) return;
    const std::uint64_t now = NowMs();
    const std::uint64_t quietFrom = std::max(Asked_.lastAskAtMs, LastByteAtMs_);
    if (TakesPlainAnswer(Asked_.step)) {
      if (Asked_.keyAtMs && now >= KeyLineEndsAtMs()) {
        PlainStepAnswered(nullptr);
        return RunHeldClicks();
      }
      if (now < Asked_.askedAtMs + kPlainAnswerLimitMs) return ArmQuestionTimer();
      // No answer (or talk of other things): said, and the next step goes. A silence is no
      // answer time: it must not lengthen the next wait.
      const Question unanswered = Asked_;
      Asked_ = Question{};
      PlainStepFailed(unanswered, "TBrekGSMDemoMainForm.OnQuestionTimer",
                      "no answer in " + std::to_string(kPlainAnswerLimitMs) + " ms");
      AfterPlainStep(unanswered.step);
      RunHeldClicks();
      return;
    }
    if (now >= std::max(OpenedAtMs_, LastByteAtMs_) + kLetGoAfterSilenceMs || now >= Asked_.askedAtMs + kQuestionLimitMs)
      return GiveUpOnPort();
    if (now >= quietFrom + Asked_.askAgainAfterMs) AskAgain();
    ArmQuestionTimer();
  });
}

void TBrekGSMDemoMainForm::GiveUpOnPort() {
  const std::int32_t number = ComPort ? ComPort->PortNumber() : -1;
  // Once until it answers: a panel left silent beside the program would grow the log
  // every 15 s.
  if (SilentPortReported_ != number)
    WriteErrLog("TBrekGSMDemoMainForm.OnQuestionTimer: COM" + std::to_string(number) + " gave no usable answer to \"" +
              Asked_.command + "\" in " + std::to_string(NowMs() - Asked_.askedAtMs) +
              " ms; the port is closed and looked for again");
  SilentPortReported_ = number;
  PassedOverPort_ = number;
  LetGoOfPort();
}

void TBrekGSMDemoMainForm::ReleaseOneShotTimers() {
  // A tick after the port closed would send to, or report on, a panel that is gone.
  OneShotTimers_.clear();
}

bool TBrekGSMDemoMainForm::HoldClick(TButton& button) {
  if (!QuestionOpen()) return false;
  HeldClicks_.push_back(&button);
  return true;
}

void TBrekGSMDemoMainForm::RunHeldClicks() {
  // Clicked as the demonstrator would: a button the state has disabled since does nothing.
  while (!QuestionOpen() && DeviceReady && !HeldClicks_.empty()) {
    TButton* button = HeldClicks_.front();
    HeldClicks_.pop_front();
    button->Click();
  }
}

void TBrekGSMDemoMainForm::ClosePort() {
  Asked_ = Question{};
  Sent_.clear();
  if (QuestionTimer) QuestionTimer->SetEnabled(false);
  HeldClicks_.clear();
  ReleaseOneShotTimers();
  if (!ComPort) return;
  if (ComPort->Active()) {
    // The closing empties the ring: the traffic log still gets every line received.
    const std::uint8_t* ring = ComPort->InpBuf();
    const std::int32_t size = ComPort->InpBufSize();
    std::int32_t at = ComPort->StartInInpBuf();
    std::vector<std::uint8_t> line(InputLine);
    for (std::int32_t left = ComPort->ReceivedBytes(); ring && size > 0 && left > 0; --left) {
      const std::uint8_t byte = ring[at];
      at = at + 1 < size ? at + 1 : 0;
      line.push_back(byte);
      if (byte != 0x0D) continue;
      AddInpControllerLog(Bytes2String(line.data(), line.size()));
      line.clear();
    }
  }
  ComPort->SetActive(false);
  ReleaseTrafficLog();
}

}  // namespace brek
