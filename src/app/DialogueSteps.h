#pragma once
// The dialogue with the panel as named steps. Every line the program sends (but the empty
// line and "START_MAIN") opens the question of one step on the port's current opening. A
// reply line is offered to that question and to nothing else; a line that answers nothing
// open is in the traffic log and changes nothing. A button pressed while a question is open
// waits behind it and is clicked again once nothing is open. The handlers are in
// Dialogue.cpp, the waits in Steps.cpp, the restart in Restart.cpp.
//
//  step              sends                  its answer                         waits, then
//  ----------------  ---------------------  ---------------------------------  -------------------------------------------
//  AskVersion        "" (first asking of    "Bootloader", or "Main" + "ver="   asked again ("VERSION?" alone) after a silence
//                    an opening only) and                                      (1, 3, 7 s, never sooner than twice the panel's
//                    "VERSION?"                                                answer time from its latest asking); let go of
//                                                                              after 10 s without a byte (30 s at most).
//                                                                              Bootloader: "START_MAIN", closed. Main: the
//                                                                              version check, AskPassword after 100 ms; after
//                                                                              a restart AskPassword (if the panel uses it)
//                                                                              or AskSerialNumber.
//  AskPassword       "AUTH=5916"            "OK", "UNKNOWN_COMMAND",           as AskVersion; then AskSerialNumber. Refused:
//                                           "WRONG PASSWORD"                   the message, nothing more.
//  AskSerialNumber   "ZOLVA_SN?"            "ZOLVA_SN=" + number or "NOT SET"  as AskVersion; then psConnected. After a
//                                                                              restart: the panel that got the script goes on
//                                                                              to SetTamper (factory: psConnected); "NOT SET"
//                                                                              is that panel only if it had none before;
//                                                                              another one is connected as itself.
//  ScriptCommand     one script command     "OK", "UNKNOWN_COMMAND", its key,  60 s, then the next command (60 s without a
//                                           "value error"                      byte: let go of). "reset": the restart.
//  (reset awaited)   (the port let go of    the port's word on "reset"         written: the restart; not taken: the script
//                    with "reset" on it)                                       dropped. Within the write's 2 s.
//  (the restart)     (nothing: no question  the panel seen gone: a removal, a  reopened only once seen gone, or by the
//                    is open; RestartWait)  hang-up, its port not listed, or   clock alone after 20 s. Not back within
//                                           its device made anew               60 s: the window leaves loading, the script
//                                                                              said not completed; the same panel back
//                                                                              within 5 min is still completed.
//  SetTamper         "ARM_IGNORE_TAMPER=1"  a plain answer                     its answer or 10 s; then SetTime.
//  SetTime           "TIME=" + seconds      a plain answer                     its answer or 10 s; then psDemoLoaded.
//  Payment           "ARM_ALLOWED=2|3|0"    a plain answer                     its answer or 10 s; its state is shown once
//                                                                              the line is written, and taken back if the
//                                                                              panel refuses it.
//
// A plain answer is "OK" or a line with the command's key (taken), or "UNKNOWN_COMMAND" or
// a line with "error" (refused). A refusal, or a plain step ended at its 10 s, is one
// error-log line; the steps go on. A line queued behind a plain step (a held click, the
// next completion step) goes only once it ended.
//
// Late replies: a line that had come in whole before the open question's line was handed to
// the port is not its answer (the rest of an earlier answer, say); it is logged only.
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
  // The bytes of this opening already received when the line was handed to the port: a
  // line that ends within them is no answer to it.
  std::uint64_t afterByte = 0;
  std::uint64_t keyAtMs = 0;      // its key line came: its "OK" may follow in a later read
  std::optional<TProgrammState> shows;   // shown once the line is written (a payment)
  std::optional<TProgrammState> before;  // and shown again if the panel refuses it
};

// After "reset": which panel got the script, and whether its port may be opened again.
struct RestartWait {
  bool waiting = false;      // "reset" went out; the script is not completed yet
  bool seenGone = false;     // the panel was seen gone since
  bool guardPassed = false;  // 20 s passed since "reset": reopened by the clock alone
  bool back = false;         // a panel answered its version since
  bool expired = false;      // 60 s passed since "reset"
  bool late = false;         // and the window left loading: only the same panel completes it
  std::int32_t serial = -1;  // the serial number of the panel that got the script
  std::int32_t port = -1;
  std::uint64_t plugging = 0;  // which plugging of its device the port was
  std::uint64_t resetAtMs = 0;
};

}  // namespace brek
