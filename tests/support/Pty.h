#pragma once
// A pseudo-terminal pair: the test holds the master side, the code under test opens the
// slave by its path (registered as a COM port number).
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace brek::test {

class Pty {
 public:
  Pty();
  ~Pty();
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  void Write(const std::string& bytes);
  std::string ReadAvailable(int waitMs = 0);  // what the slave side wrote
  void HangUp();                              // closes the master: the slave sees a hang-up

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so the pair stays up between openings
  std::string path_;
};

// Polls pred in real time until it holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 3000);

}  // namespace brek::test
