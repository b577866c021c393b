#pragma once
// The simulated panel's behaviour: what it answers to each command line, with which
// delay, and when it restarts. No I/O and no clock: adapters feed it bytes and deliver
// its answers (in virtual time for tests, on a pty in real time).
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace brek::sim {

enum class PasswordMode { Accept, NoPassword, Wrong };
enum class ScriptReply { Ok, Echo, KeyValue, ValueError, Unknown, Silence };

struct PanelConfig {
  std::string version = "5.1.10.6";
  bool bootloaderFirst = false;  // the first "VERSION?" finds the start-up program
  bool stuckInBootloader = false;  // and it never leaves it
  bool valueErrorToAll = false;    // every line is answered "value error"
  std::string noise;               // sent before every answer (garbage lines)
  PasswordMode password = PasswordMode::Accept;
  std::string wrongPasswordLine = "ERROR: WRONG PASSWORD";
  std::string serial = "123456";  // or "NOT SET"
  ScriptReply scriptReply = ScriptReply::Ok;
  // Replies for commands that begin with a given text, overriding scriptReply.
  std::map<std::string, ScriptReply> replyFor;
  bool echo = false;               // echo every line before answering
  std::uint32_t replyDelayMs = 0;  // from the end of a command line to its answer
  // A busy panel (its flash being written): it takes one line at a time, so an answer's
  // delay starts when the answer before it went out, not when its line arrived.
  bool oneLineAtATime = false;
  std::uint32_t restartMs = 3000;  // from "reset" or "START_MAIN" to being back
  // How long its USB side stays after "reset" (its firmware finishes writing first).
  std::uint32_t leaveAfterResetMs = 50;
  std::string lineEnd = "\r\n";
  // Exact answers for given command lines, before any other rule (e.g. the version reply);
  // a key ending in '=' answers every line that begins with it, "" the empty line.
  std::map<std::string, std::string> answerFor;
  // A panel whose firmware is still starting when its USB side appears: after each start
  // (plug, restart) it loses its first N command lines, and the first one that begins
  // with loseFirst; adapters also make it deaf for deafAfterStartMs.
  int loseAfterStart = 0;
  std::string loseFirst;
  std::uint32_t deafAfterStartMs = 0;
};

struct PanelOutput {
  std::uint32_t delayMs = 0;
  std::string bytes;
};

class PanelModel {
 public:
  explicit PanelModel(PanelConfig config = {});

  // Bytes from the computer; returns what the panel sends back.
  std::vector<PanelOutput> Receive(std::string_view bytes);
  // True once after a command that restarts the panel.
  bool TakeRestartRequest();
  // The panel finished restarting (its start-up program is left after START_MAIN).
  void Restarted();
  // Power came on (plugged in, or back from a restart): the slow start begins again.
  void Started();

  const std::vector<std::string>& Transcript() const { return transcript_; }  // every line received
  // Every line end that was not CR LF exactly (the panel's firmware wants both).
  const std::vector<std::string>& FramingErrors() const { return framingErrors_; }
  std::vector<std::string> Commands() const;  // the non-empty lines
  // Lines that reached the panel while it could not read them yet.
  const std::vector<std::string>& Lost() const { return lost_; }
  PanelConfig& Config() { return config_; }
  bool InBootloader() const { return bootloader_; }

 private:
  std::vector<PanelOutput> Answer(const std::string& line);
  PanelOutput Line(const std::string& text) const { return {config_.replyDelayMs, config_.noise + text + config_.lineEnd}; }

  PanelConfig config_;
  bool bootloader_;
  bool restartRequested_ = false;
  std::string partial_;
  bool afterCr_ = false;
  std::string lastLine_;
  std::vector<std::string> framingErrors_;
  std::vector<std::string> transcript_;
  std::vector<std::string> lost_;
  int toLose_ = 0;
  bool loseFirstPending_ = false;
};

}  // namespace brek::sim
