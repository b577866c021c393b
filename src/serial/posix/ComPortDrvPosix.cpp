// The driver on termios: raw 8N1 without flow control, DTR and RTS inactive, exclusive
// use (TIOCEXCL and flock), a reader that blocks in poll() and is woken by an eventfd.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "serial/ComPortDrv.h"
#include "serial/PortRegistry.h"

namespace brek {
namespace {

// After a hang-up the descriptor reports POLLHUP for ever; the reader waits this long
// between looks instead of spinning, until the port is closed.
constexpr int kVanishedBackoffMs = 200;
// While the ring is full the input stays in the system's queue (which holds the sender
// back when it fills) and the reader waits for the consumer's word that it made room; it
// looks this often all the same.
constexpr int kFullRingRecheckMs = 100;

int Fd(THandle h) { return static_cast<int>(h); }

bool SpeedOf(std::uint32_t baud, speed_t& speed) {
  switch (baud) {
    case 110: speed = B110; return true;
    case 300: speed = B300; return true;
    case 600: speed = B600; return true;
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
    case 460800: speed = B460800; return true;
    case 921600: speed = B921600; return true;
    default: return false;  // 7200, 14400, 56000, 128000, 256000 have no termios speed
  }
}

bool ApplyDcb(int fd, const DCB& dcb) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  speed_t speed;
  if (!SpeedOf(dcb.BaudRate, speed)) return false;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
  switch (dcb.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  switch (dcb.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;
  t.c_cflag |= CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;  // reads return at once with what is queued
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Bytes the device has not taken yet: 0 where the driver cannot tell, nothing when the
// device is gone (a hung-up tty answers EIO).
std::optional<std::uint32_t> OutputLeft(int fd) {
  int n = 0;
  if (ioctl(fd, TIOCOUTQ, &n) == 0) return n > 0 ? static_cast<std::uint32_t>(n) : 0;
  if (errno == EIO || errno == ENXIO || errno == ENODEV) return std::nullopt;
  return 0;
}
std::uint32_t QueuedOutput(int fd) { return OutputLeft(fd).value_or(0); }

// Another program's exclusive use (TIOCEXCL), which root would pass unnoticed.
bool HeldExclusivelyElsewhere(int fd) {
  int exclusive = 0;
  return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

// The driver's closing waits for the output it still holds to go out (cdc_acm: up to 30 s,
// and it keeps what it handed to USB through a flush). Told not to wait, it throws that away.
// The setting outlives the descriptor: it is given back at our next opening of the device.
std::mutex gClosingWaitsMutex;
std::map<std::string, unsigned short> gClosingWaits;  // device → the closing wait it had

bool CloseWithoutWaiting(int fd, const std::string& device) {
  serial_struct s{};
  if (ioctl(fd, TIOCGSERIAL, &s) != 0) return false;  // a pty, a driver without the setting
  if (s.closing_wait == ASYNC_CLOSING_WAIT_NONE) return true;
  const unsigned short had = s.closing_wait;
  s.closing_wait = ASYNC_CLOSING_WAIT_NONE;
  if (ioctl(fd, TIOCSSERIAL, &s) != 0) return false;  // not ours to change (EPERM without CAP_SYS_ADMIN)
  std::lock_guard lock(gClosingWaitsMutex);
  gClosingWaits.emplace(device, had);
  return true;
}

void GiveBackClosingWait(int fd, const std::string& device) {
  std::lock_guard lock(gClosingWaitsMutex);
  const auto it = gClosingWaits.find(device);
  if (it == gClosingWaits.end()) return;
  serial_struct s{};
  // Still ours to give back only while nobody changed it since (a device made anew has its own).
  if (ioctl(fd, TIOCGSERIAL, &s) == 0 && s.closing_wait == ASYNC_CLOSING_WAIT_NONE) {
    s.closing_wait = it->second;
    ioctl(fd, TIOCSSERIAL, &s);
  }
  gClosingWaits.erase(it);
}

void CloseDevice(TCommDrvRec& rec) {
  const int fd = Fd(rec.Handle);
  // Another program's exclusive use is not ours to end.
  if (rec.ExclusiveSet) ioctl(fd, TIOCNXCL);
  rec.ExclusiveSet = false;
  flock(fd, LOCK_UN);
  if (QueuedOutput(fd) > 0) {
    // A device that stopped taking data: the driver's close waits for the queue to drain
    // (30 s on cdc-acm). The port is already released; the descriptor goes on its own.
    CloseOnItsOwn(PortDevicePath(rec.PortNumber), [fd] { close(fd); });
  } else {
    close(fd);
  }
  rec.Handle = INVALID_HANDLE_VALUE;
  if (rec.WakeHandle != INVALID_HANDLE_VALUE) close(Fd(rec.WakeHandle));
  rec.WakeHandle = INVALID_HANDLE_VALUE;
}

// Bytes waiting in the input queue. Where the device cannot tell (FIONREAD refused, as
// on some drivers and under device mocks) a large count stands in: the read is
// non-blocking and returns what is really there.
constexpr std::uint32_t kUnknownQueue = 1u << 20;
std::uint32_t QueuedInput(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0) return kUnknownQueue;
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

void TakeWake(TCommDrvRec& rec) {
  std::uint64_t count = 0;
  if (read(Fd(rec.WakeHandle), &count, sizeof count) < 0) {
    // Nothing to take: another look took it.
  }
}

// Waits for input or the closing's wake-up; returns the event mask (EV_RXCHAR or 0).
std::uint32_t WaitCommEvent(TCommDrvRec& rec) {
  const int fd = Fd(rec.Handle);
  pollfd fds[2] = {{fd, POLLIN, 0}, {Fd(rec.WakeHandle), POLLIN, 0}};
  if (rec.ReceivedBytes.load() >= rec.InpBufSize) {
    // No room: waiting for input would return at once for what is already queued.
    if (poll(&fds[1], 1, kFullRingRecheckMs) > 0) TakeWake(rec);
    return 0;
  }
  if (poll(fds, 2, -1) < 0) return 0;
  if (fds[1].revents) {
    TakeWake(rec);  // room made, or the closing (which set Stop first)
    return 0;
  }
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
    // The device is gone (or hung up). Whatever it left queued is still delivered; then
    // the reader looks again only now and then until the port is closed.
    const std::uint32_t queued = QueuedInput(fd);
    if (queued > 0 && queued != kUnknownQueue && (fds[0].revents & POLLIN)) return EV_RXCHAR;
    CommReportGone(rec);
    poll(&fds[1], 1, kVanishedBackoffMs);
    return 0;
  }
  return (fds[0].revents & POLLIN) ? EV_RXCHAR : 0;
}

}  // namespace

bool SystemCommOpen(TCommDrvRec& rec) {
  const std::string path = PortDevicePath(rec.PortNumber);
  if (path.empty()) return false;
  if (StillClosing(path)) return false;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  rec.Handle = fd;
  rec.ExclusiveSet = false;
  if (HeldExclusivelyElsewhere(fd)) {
    CloseDevice(rec);
    return false;
  }
  // Exclusive use: flock holds against every other opener (root included); TIOCEXCL also
  // keeps out other users' opens where the device supports it.
  bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (ok) rec.ExclusiveSet = ioctl(fd, TIOCEXCL) == 0;
  // Raw before the flush: a tty not opened raw since its driver loaded starts cooked, and
  // what the panel sends meanwhile would be echoed back or have CR turned into NL.
  if (ok) ok = ApplyDcb(fd, rec.Dcb);
  if (ok) ok = tcflush(fd, TCIOFLUSH) == 0;
  if (ok) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);  // a pty has no modem lines: the answer is not checked
  }
  if (ok) {
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ok = wake >= 0;
    if (ok) rec.WakeHandle = wake;
  }
  if (!ok) {
    CloseDevice(rec);
    return false;
  }
  if (!CommStartReader(rec)) {
    CloseDevice(rec);
    return false;
  }
  GiveBackClosingWait(fd, path);
  return true;
}

void SystemCommClose(TCommDrvRec& rec) {
  if (rec.Handle == INVALID_HANDLE_VALUE) return;
  rec.Stop = true;
  const std::uint64_t one = 1;
  if (write(Fd(rec.WakeHandle), &one, sizeof one) < 0) {
    // An eventfd write only fails on overflow, which cannot happen here.
  }
  // The reader must be gone before the descriptor number can be reused or the ring freed.
  if (rec.ReaderThread.joinable()) rec.ReaderThread.join();
  // Output is dropped only after a write gave up, or where some is still queued (a device
  // that stopped taking it). A pty reports none, and its flush would also drop what the other
  // side has not read yet: the "reset" written just before this close.
  const int fd = Fd(rec.Handle);
  tcflush(fd, rec.DiscardOnClose || QueuedOutput(fd) > 0 ? TCIOFLUSH : TCIFLUSH);
  CommEmptyRing(rec);
  CloseDevice(rec);
}

std::uint32_t SystemCommWrite(THandle handle, const std::uint8_t* bytes, std::uint32_t count) {
  if (handle == INVALID_HANDLE_VALUE || count == 0 || !bytes) return 0;
  const int fd = Fd(handle);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  std::uint32_t written = 0;
  while (written < count) {
    const ssize_t n = write(fd, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLOUT, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;  // a signal: the time left still holds
    if (ready <= 0) break;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
  }
  // The device takes its bytes within the same bound: tcdrain would wait for ever on one
  // that stopped reading.
  return CommDrainWrite(
      count, written, [fd] { return OutputLeft(fd); },
      [&deadline] {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
      },
      [fd] { tcflush(fd, TCOFLUSH); });
}

bool SystemCommDiscard(TCommDrvRec& rec) {
  if (rec.Handle == INVALID_HANDLE_VALUE) return true;  // nothing held
  const int fd = Fd(rec.Handle);
  rec.DiscardOnClose = true;
  tcflush(fd, TCOFLUSH);
  const std::optional<std::uint32_t> left = OutputLeft(fd);
  if (!left || *left == 0) return true;  // thrown away, or the device is gone with it
  return CloseWithoutWaiting(fd, PortDevicePath(rec.PortNumber));
}

void CommWakeReader(TCommDrvRec& rec) {
  if (rec.WakeHandle == INVALID_HANDLE_VALUE) return;
  const std::uint64_t one = 1;
  if (write(Fd(rec.WakeHandle), &one, sizeof one) < 0) {
    // Only fails on overflow: the reader has more than enough wake-ups waiting.
  }
}

void CommSetQueues(TCommDrvRec& rec) {
  // The kernel's tty queues have a fixed size; nothing to ask for.
  (void)rec;
}

std::uint32_t CommRead(TCommDrvRec& rec, std::uint8_t* address, std::uint32_t count) {
  if (count == 0) return 0;
  const ssize_t n = read(Fd(rec.Handle), address, count);
  if (n < 0 && errno == EIO) CommReportGone(rec);
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

std::uint32_t CommReader(TCommDrvRec& rec) {
  while (!rec.Stop) {
    const std::uint32_t events = WaitCommEvent(rec);
    rec.ComStat.cbInQue = QueuedInput(Fd(rec.Handle));
    if (rec.Stop) break;
    if (!(events & EV_RXCHAR)) continue;
    CommStoreInput(rec, rec.ComStat.cbInQue, [&rec](std::uint8_t* at, std::uint32_t count) {
          return CommRead(rec, at, count);
        });
  }
  return 0;
}

TProbe SystemCommProbe(std::int32_t number) {
  const std::string path = PortDevicePath(number);
  if (path.empty() || StillClosing(path)) return TProbe::Refused;  // our own closing is no other's hold
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // Another's exclusive use, as a user who is not root sees it.
  if (fd < 0) return errno == EBUSY ? TProbe::Held : TProbe::Refused;
  TProbe answer = TProbe::Free;
  if (HeldExclusivelyElsewhere(fd))
    answer = TProbe::Held;
  else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    answer = errno == EWOULDBLOCK ? TProbe::Held : TProbe::Refused;
  else
    flock(fd, LOCK_UN);
  close(fd);
  return answer;
}

}  // namespace brek
