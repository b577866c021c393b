#include "support/PanelSimProcess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace brek::test {

PanelSimProcess::PanelSimProcess(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<char*> argv;
  std::string program = PANEL_SIM_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out_ = fds[0];
  if (rc != 0) throw std::runtime_error("cannot start panel-sim");
  std::string line;
  char c;
  pollfd p{out_, POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, 5000) > 0 && read(out_, &c, 1) == 1) line += c;
  if (line.rfind("PTY ", 0) != 0) throw std::runtime_error("panel-sim did not start: " + line);
  path_ = line.substr(4, line.size() - 5);
}

PanelSimProcess::~PanelSimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

}  // namespace brek::test
