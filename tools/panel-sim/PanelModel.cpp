#include "PanelModel.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace brek::sim {
namespace {
std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}
}  // namespace

PanelModel::PanelModel(PanelConfig config) : config_(std::move(config)), bootloader_(config_.bootloaderFirst || config_.stuckInBootloader) {
  Started();
}

void PanelModel::Started() {
  toLose_ = config_.loseAfterStart;
  loseFirstPending_ = !config_.loseFirst.empty();
}

std::vector<PanelOutput> PanelModel::Receive(std::string_view bytes) {
  std::vector<PanelOutput> out;
  for (char c : bytes) {
    if (std::exchange(afterCr_, false)) {
      if (c == '\n') continue;
      framingErrors_.push_back("CR without LF after \"" + lastLine_ + "\"");
    }
    if (c == '\n') {
      framingErrors_.push_back("LF without CR in \"" + partial_ + "\"");
      continue;
    }
    if (c != '\r') {
      partial_ += c;
      continue;
    }
    afterCr_ = true;
    std::string line;
    line.swap(partial_);
    lastLine_ = line;
    if (!line.empty() && (toLose_ > 0 || (loseFirstPending_ && line.rfind(config_.loseFirst, 0) == 0))) {
      if (toLose_ > 0)
        --toLose_;
      else
        loseFirstPending_ = false;
      lost_.push_back(line);
      continue;
    }
    transcript_.push_back(line);
    if (config_.echo && !line.empty()) out.push_back(Line(line));
    for (auto& o : Answer(line)) out.push_back(std::move(o));
  }
  return out;
}

bool PanelModel::TakeRestartRequest() { return std::exchange(restartRequested_, false); }

void PanelModel::Restarted() {
  bootloader_ = config_.stuckInBootloader;
  Started();
}

std::vector<std::string> PanelModel::Commands() const {
  std::vector<std::string> c;
  std::copy_if(transcript_.begin(), transcript_.end(), std::back_inserter(c), [](const std::string& l) { return !l.empty(); });
  return c;
}

std::vector<PanelOutput> PanelModel::Answer(const std::string& line) {
  auto it = config_.answerFor.find(line);
  if (it == config_.answerFor.end() && line.find('=') != std::string::npos)
    it = config_.answerFor.find(line.substr(0, line.find('=') + 1));
  if (it != config_.answerFor.end()) {
    // "a\tb": b comes 30 ms after a, in a read of its own.
    const auto tab = it->second.find('\t');
    if (tab == std::string::npos) return {Line(it->second)};
    return {Line(it->second.substr(0, tab)), {config_.replyDelayMs + 30, config_.noise + it->second.substr(tab + 1) + config_.lineEnd}};
  }
  if (line.empty()) return {};
  if (config_.valueErrorToAll) return {Line("value error")};
  if (line == "VERSION?") return {Line(bootloader_ ? "Bootloader v2.0" : "Brek GSM Main ver=" + config_.version)};
  if (bootloader_) {
    if (line == "START_MAIN") restartRequested_ = true;
    return {};
  }
  if (Upper(line) == "RESET") {
    restartRequested_ = true;
    return {};
  }
  if (line.rfind("AUTH=", 0) == 0) {
    switch (config_.password) {
      case PasswordMode::Accept: return {Line(line == "AUTH=5916" ? "OK" : config_.wrongPasswordLine)};
      case PasswordMode::NoPassword: return {Line("UNKNOWN_COMMAND")};
      case PasswordMode::Wrong: return {Line(config_.wrongPasswordLine)};
    }
  }
  if (line == "ZOLVA_SN?") return {Line("ZOLVA_SN=" + config_.serial)};
  if (line.rfind("ARM_ALLOWED=", 0) == 0 || line.rfind("ARM_IGNORE_TAMPER=", 0) == 0 || line.rfind("TIME=", 0) == 0)
    return {Line("OK")};

  ScriptReply style = config_.scriptReply;
  for (const auto& [prefix, s] : config_.replyFor)
    if (line.rfind(prefix, 0) == 0) style = s;
  const auto sep = line.find_first_of("=?");
  const std::string key = sep == std::string::npos ? std::string() : line.substr(0, sep);
  switch (style) {
    case ScriptReply::Ok: return {Line("OK")};
    case ScriptReply::Echo: return {Line(line)};
    case ScriptReply::KeyValue: return {Line(key.empty() ? "OK" : key + ": stored")};
    case ScriptReply::ValueError: return {Line("value error")};
    case ScriptReply::Unknown: return {Line("UNKNOWN_COMMAND")};
    case ScriptReply::Silence: return {};
  }
  return {};
}

}  // namespace brek::sim
