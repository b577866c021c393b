#include "support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace brek::test {

Pty::Pty() {
  char name[256];
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  path_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  // Start cooked and slow, so code that forgets raw mode shows it.
  termios t{};
  tcgetattr(slave_, &t);
  t.c_lflag |= ICANON | ECHO;
  cfsetspeed(&t, B9600);
  tcsetattr(slave_, TCSANOW, &t);
}

Pty::~Pty() {
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

void Pty::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string Pty::ReadAvailable(int waitMs) {
  std::string out;
  pollfd p{master_, POLLIN, 0};
  if (waitMs > 0) poll(&p, 1, waitMs);
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

void Pty::HangUp() {
  if (slave_ >= 0) close(slave_);
  slave_ = -1;
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

}  // namespace brek::test
