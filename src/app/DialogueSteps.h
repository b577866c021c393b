#pragma once
// The dialogue with the panel as named steps. Every line the program sends (but the empty
// line and "START_MAIN") opens the question of one step on the port's current opening. A
// reply line is offered to that question and to nothing else; a line that answers nothing
// open is in the traffic log and changes nothing. A button pressed while a question is open
// waits behind it and is clicked again once nothing is open. The handlers are in
// Dialogue.cpp, the waits in Steps.cpp.
//
//  step              sends                  its answer                         waits, then
//  ----------------  ---------------------  ---------------------------------  -------------------------------------------
//  AskVersion        "" and "VERSION?"      "Bootloader", or "Main" + "ver="   asked again after a silence (1, 3, 7 s, never
//                                                                              sooner than twice the panel's own answer time);
//                                                                              let go of after 10 s without a byte (30 s at
//                                                                              most). Bootloader: "START_MAIN", closed.
//                                                                              Main: the version check, AskPassword after
//                                                                              100 ms; after a restart AskPassword (if the
//                                                                              panel uses it) or AskSerialNumber.
//  AskPassword       "AUTH=5916"            "OK", "UNKNOWN_COMMAND",           as AskVersion; then AskSerialNumber. Refused:
//                                           "WRONG PASSWORD"                   the message, nothing more.
//  AskSerialNumber   "ZOLVA_SN?"            "ZOLVA_SN=" + number or "NOT SET"  as AskVersion; then psConnected. After a
//                                                                              restart: the panel that got the script goes on
//                                                                              to SetTamper (factory: psConnected); another
//                                                                              one is connected as itself, the script dropped.
//  ScriptCommand     one script command     "OK", "UNKNOWN_COMMAND", its key,  60 s, then the next command (60 s without a
//                                           "value error"                      byte: let go of). "reset": the restart.
//  (the restart)     (nothing: no question  the port reopened after the panel  reopened only once the panel was seen gone or
//                    is open; RestartWait)  was seen gone, or 5 s              5 s passed; not back within 60 s: the script
//                                                                              dropped, the window waits for a panel.
//  SetTamper         "ARM_IGNORE_TAMPER=1"  a plain answer                     its answer or a silence; then SetTime.
//  SetTime           "TIME=" + seconds      a plain answer                     its answer or a silence; then psDemoLoaded.
//  Payment           "ARM_ALLOWED=2|3|0"    a plain answer                     its answer or a silence; its state is shown
//                                                                              once the line is written.
//
// A plain answer is "OK", "UNKNOWN_COMMAND", "value error" or a line with the command's
// key; a silence is twice the panel's answer time on this opening, a second at least, and a
// plain step waits 10 s at most.
#include <cstdint>
#include <optional>
#include <string>

#include "app/ProgramState.h"

namespace brek {

enum class Step : std::uint8_t {
  None,
  AskVersion,
  AskPassword,
  AskSerialNumber,
  ScriptCommand,
  SetTamper,
  SetTime,
  Payment,
};

// Connection questions are asked again after a silence; the others are asked once.
constexpr bool AskedAgain(Step s) {
  return s == Step::AskVersion || s == Step::AskPassword || s == Step::AskSerialNumber;
}
// Steps whose answer only tells that the panel took the line.
constexpr bool TakesPlainAnswer(Step s) { return s == Step::SetTamper || s == Step::SetTime || s == Step::Payment; }

// The open question: which step, on which opening of the port, and when it was asked. A
// question is asked when its line is written: its waits start then, and none runs while
// the port still holds the line (at most the write's 2 s).
struct Question {
  Step step = Step::None;
  std::uint64_t opening = 0;
  std::string command;
  std::uint64_t askedAtMs = 0;    // the first asking written
  std::uint64_t lastAskAtMs = 0;  // the latest asking written
  unsigned askAgainAfterMs = 0;   // the silence before the next asking (doubles each time)
  std::uint64_t block = 0;        // the port's number for the latest asking's line
  bool inFlight = false;          // that line is not written yet
  bool written = false;           // the first asking was written
  std::optional<TProgrammState> shows;  // shown once the line is written (a payment)
};

// After "reset": which panel got the script, and whether its port may be opened again.
struct RestartWait {
  bool waiting = false;      // "reset" went out; the script is not completed yet
  bool seenGone = false;     // the panel's port was not listed since
  bool guardPassed = false;  // 5 s passed since "reset"
  bool back = false;         // a panel answered its version since
  bool expired = false;      // 60 s passed since "reset"
  std::int32_t serial = -1;  // the serial number of the panel that got the script
  std::int32_t port = -1;
};

}  // namespace brek
