// panel-sim: the simulated panel on a pseudo-terminal (or a descriptor it is given), in
// real time. It prints "PTY <path>" once it serves, and "RESTART <ms>" whenever a command
// restarts the panel, so a harness can make its device go away and come back.
//
//   panel-sim [--link PATH] [--fd N] [--transcript FILE] [--version V] [--bootloader]
//             [--password accept|none|wrong] [--serial S|"NOT SET"]
//             [--reply ok|echo|key|value-error|unknown|silence] [--echo] [--delay MS]
//             [--line-delay MS] [--restart MS] [--lose-first N] [--lose-first-of TEXT] [--deaf MS]
//
// --delay: every answer MS after its line. --line-delay: the same, one line at a time, as a
// panel busy writing its flash: an answer's MS start when the answer before it went out.
//
// The last three make a panel that starts slowly: after its start and after each restart
// it loses its first N command lines, the first line that begins with TEXT, and whatever
// arrives within MS.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <thread>

#include "PanelModel.h"

using brek::sim::PanelConfig;
using brek::sim::PasswordMode;
using brek::sim::ScriptReply;

namespace {

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr, "panel-sim: %s\n", why);
  std::exit(2);
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return;  // the other side is gone
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);  // a harness that dies takes its panels with it
  PanelConfig config;
  std::string link, transcriptFile;
  int fd = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value after " + a).c_str());
      return argv[++i];
    };
    if (a == "--link") link = value();
    else if (a == "--fd") fd = std::atoi(value().c_str());
    else if (a == "--transcript") transcriptFile = value();
    else if (a == "--version") config.version = value();
    else if (a == "--bootloader") config.bootloaderFirst = true;
    else if (a == "--serial") config.serial = value();
    else if (a == "--echo") config.echo = true;
    else if (a == "--delay") config.replyDelayMs = static_cast<std::uint32_t>(std::atoi(value().c_str()));
    else if (a == "--line-delay") {
      config.replyDelayMs = static_cast<std::uint32_t>(std::atoi(value().c_str()));
      config.oneLineAtATime = true;
    }
    else if (a == "--restart") config.restartMs = static_cast<std::uint32_t>(std::atoi(value().c_str()));
    else if (a == "--lose-first") config.loseAfterStart = std::atoi(value().c_str());
    else if (a == "--lose-first-of") config.loseFirst = value();
    else if (a == "--deaf") config.deafAfterStartMs = static_cast<std::uint32_t>(std::atoi(value().c_str()));
    else if (a == "--password") {
      const std::string v = value();
      config.password = v == "none" ? PasswordMode::NoPassword : v == "wrong" ? PasswordMode::Wrong : PasswordMode::Accept;
    } else if (a == "--reply") {
      const std::string v = value();
      config.scriptReply = v == "echo"          ? ScriptReply::Echo
                           : v == "key"         ? ScriptReply::KeyValue
                           : v == "value-error" ? ScriptReply::ValueError
                           : v == "unknown"     ? ScriptReply::Unknown
                           : v == "silence"     ? ScriptReply::Silence
                                                : ScriptReply::Ok;
    } else {
      Usage(("unknown option " + a).c_str());
    }
  }

  std::string path = "(fd)";
  if (fd < 0) {
    int slave = -1;
    char name[256];
    if (openpty(&fd, &slave, name, nullptr, nullptr) != 0) Usage("openpty failed");
    path = name;
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    if (!link.empty()) {
      unlink(link.c_str());
      if (symlink(name, link.c_str()) != 0) Usage("cannot create the link");
    }
    // The slave stays open here too, so the pair survives the program's closings.
  }
  std::printf("PTY %s\n", path.c_str());
  std::fflush(stdout);

  brek::sim::PanelModel model(config);
  std::ofstream transcript;
  if (!transcriptFile.empty()) transcript.open(transcriptFile, std::ios::app);
  std::size_t logged = 0, framing = 0, lost = 0;
  char buffer[4096];
  using Clock = std::chrono::steady_clock;
  const auto deaf = std::chrono::milliseconds(config.deafAfterStartMs);
  auto deafUntil = Clock::now() + deaf;
  // What the panel is yet to send, in order, each at its time; a restart waits its turn.
  struct Pending {
    Clock::time_point due;
    std::string bytes;
    bool restart = false;
  };
  std::deque<Pending> pending;
  auto lastSent = Clock::now();
  for (;;) {
    int waitMs = 1000;
    if (!pending.empty())
      waitMs = static_cast<int>(std::max<long long>(
          0, std::chrono::ceil<std::chrono::milliseconds>(pending.front().due - Clock::now()).count()));
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) > 0) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      const auto arrived = Clock::now();
      if (n <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nobody on the other side yet
      } else if (arrived < deafUntil) {
        std::string bytes(buffer, static_cast<std::size_t>(n));
        for (char& c : bytes)
          if (c == '\r' || c == '\n') c = ' ';
        transcript << "!LOST " << bytes << '\n' << std::flush;  // the firmware is not reading yet
      } else {
        const auto outputs = model.Receive(std::string_view(buffer, static_cast<std::size_t>(n)));
        for (; logged < model.Transcript().size(); ++logged) transcript << model.Transcript()[logged] << '\n' << std::flush;
        for (; lost < model.Lost().size(); ++lost) transcript << "!LOST " << model.Lost()[lost] << '\n' << std::flush;
        // A wrong line end shows in the transcript, so a test comparing it line by line fails.
        for (; framing < model.FramingErrors().size(); ++framing) {
          transcript << "!FRAMING " << model.FramingErrors()[framing] << '\n' << std::flush;
          std::fprintf(stderr, "panel-sim: %s\n", model.FramingErrors()[framing].c_str());
        }
        for (const auto& o : outputs) {
          auto from = arrived;
          if (config.oneLineAtATime) from = std::max(from, pending.empty() ? lastSent : pending.back().due);
          auto due = from + std::chrono::milliseconds(o.delayMs);
          if (!pending.empty()) due = std::max(due, pending.back().due);  // never out of order
          pending.push_back({due, o.bytes});
        }
        if (model.TakeRestartRequest()) pending.push_back({pending.empty() ? arrived : pending.back().due, {}, true});
      }
    }
    while (!pending.empty() && pending.front().due <= Clock::now()) {
      Pending next = std::move(pending.front());
      pending.pop_front();
      if (!next.restart) {
        WriteAll(fd, next.bytes);
        lastSent = Clock::now();
        continue;
      }
      std::printf("RESTART %u\n", config.restartMs);
      std::fflush(stdout);
      // Restarting: deaf until back, and what it was to say is lost with it.
      pending.clear();
      const auto until = Clock::now() + std::chrono::milliseconds(config.restartMs);
      while (Clock::now() < until) {
        pollfd q{fd, POLLIN, 0};
        if (poll(&q, 1, 50) > 0 && read(fd, buffer, sizeof buffer) <= 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      model.Restarted();
      deafUntil = Clock::now() + deaf;
      lastSent = Clock::now();
    }
  }
}
