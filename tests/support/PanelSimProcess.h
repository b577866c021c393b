#pragma once
// The panel-sim program run as a child process serving its own pty.
#include <sys/types.h>

#include <string>
#include <vector>

namespace brek::test {

class PanelSimProcess {
 public:
  // Starts panel-sim with the arguments; waits for it to say which pty it serves.
  explicit PanelSimProcess(const std::vector<std::string>& args);
  ~PanelSimProcess();
  const std::string& Path() const { return path_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string path_;
};

}  // namespace brek::test
