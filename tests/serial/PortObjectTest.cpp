// The port object on a pseudo-terminal, its timer in virtual time.
#include <gtest/gtest.h>

#include "serial/ComPortKX.h"
#include "serial/PortRegistry.h"
#include "support/Pty.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"

namespace brek::test {
namespace {

constexpr std::int32_t kPort = 42;

class PortObject : public Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    ui = std::make_unique<VirtualToolkit>();
    ui->threadedWork = true;  // the port's own thread, as in the programs
    RegisterPortDevice(kPort, pty.Path());
    port = std::make_unique<TComPortKX>(*ui, drv);
    port->OnOpen = [this](TComPortKX* sender) {
      EXPECT_EQ(sender, port.get());
      ++opens;
    };
    port->OnReceiveData = [this](TComPortKX* sender) {
      EXPECT_EQ(sender, port.get());
      receivedAtEvent.push_back(port->ReceivedBytes());
    };
    port->OnWritten = [this](TComPortKX*, std::uint64_t b, TWritten w) { written.emplace_back(b, w == TWritten::Whole); };
  }
  void TearDown() override {
    port.reset();
    ui.reset();
    UnregisterPortDevice(kPort);
    Sandbox::TearDown();
  }
  void Open() {
    port->SetPortNumber(kPort);
    port->SetBaudRate(115200);
    port->SetActive(true);
    Settle();
    ASSERT_EQ(port->Status(), kStatusOpened);
  }
  void Settle() {  // what the port's thread was asked has run, its outcomes (in order) raised
    bool done = false;
    port->Probe({}, [&](const std::vector<TProbe>&) { done = true; });
    ASSERT_TRUE(ui->RunUntil([&] { return done; }));
  }
  // Waits in real time for the reader's notice to be posted, then lets virtual time run.
  void DeliverAfter(std::int32_t expectBytes) {
    ASSERT_TRUE(WaitFor([&] { return port->ReceivedBytes() >= expectBytes; }));
    ASSERT_TRUE(ui->RunUntil([&] { return ui->LiveTimers() > 0; }));
    ui->RunUntil([] { return false; }, 30);  // posted notices
  }

  Pty pty;
  TCommDrvRec drv;
  std::unique_ptr<VirtualToolkit> ui;
  std::unique_ptr<TComPortKX> port;
  int opens = 0;
  std::vector<std::int32_t> receivedAtEvent;
  std::vector<std::pair<std::uint64_t, bool>> written;
};

TEST_F(PortObject, CreationDefaults) {
  EXPECT_EQ(port->BaudRate(), 38400);
  EXPECT_EQ(port->ByteSize(), 8);
  EXPECT_EQ(port->Parity(), 0);
  EXPECT_EQ(port->StopBits(), 0);
  EXPECT_EQ(port->InpBufSize(), 4096);
  EXPECT_EQ(port->Status(), kStatusNone);
  EXPECT_FALSE(port->Active());
  EXPECT_EQ(drv.Dcb.DCBlength, 28u);
  EXPECT_EQ(drv.Dcb.Flags, 1u);
  // Distinct, though flow control is off: drivers refuse a record where they are equal.
  EXPECT_EQ(drv.Dcb.XonChar, 0x11);
  EXPECT_EQ(drv.Dcb.XoffChar, 0x13);
  EXPECT_EQ(drv.InpBuf, port->InpBuf());
}

TEST_F(PortObject, SettersMapTheirValues) {
  port->SetBaudRate(12345);
  EXPECT_EQ(port->BaudRate(), 9600);
  for (int speed : {110, 7200, 56000, 115200, 921600}) {
    port->SetBaudRate(speed);
    EXPECT_EQ(port->BaudRate(), speed);
  }
  port->SetStopBits(3);
  EXPECT_EQ(port->StopBits(), 0);
  port->SetStopBits(2);
  EXPECT_EQ(port->StopBits(), 2);
  port->SetParity(5);
  EXPECT_EQ(port->Parity(), 0);
  port->SetParity(4);
  EXPECT_EQ(port->Parity(), 4);
  port->SetByteSize(0x107);
  EXPECT_EQ(port->ByteSize(), 7);
}

TEST_F(PortObject, FailedOpeningKeepsActiveAndRetriesOnlyAfterAClose) {
  port->SetPortNumber(999);
  port->SetActive(true);
  EXPECT_EQ(port->Status(), kStatusOpening);
  Settle();
  EXPECT_TRUE(port->Active());
  EXPECT_EQ(port->Status(), kStatusFailed);
  EXPECT_EQ(opens, 0);
  RegisterPortDevice(999, pty.Path());
  port->SetActive(true);  // already Active: nothing happens
  EXPECT_EQ(port->Status(), kStatusFailed);
  port->SetActive(false);  // closes nothing, raises nothing
  Settle();
  EXPECT_EQ(port->Status(), kStatusFailed);
  port->SetActive(true);
  Settle();
  EXPECT_EQ(port->Status(), kStatusOpened);
  EXPECT_EQ(opens, 1);
  port->SetActive(false);
  Settle();
  EXPECT_EQ(port->Status(), kStatusOpened) << "closing leaves the status";
  UnregisterPortDevice(999);
}

TEST_F(PortObject, ChangingASettingWhileOpenReopensAndRaisesOnOpenAgain) {
  Open();
  EXPECT_EQ(opens, 1);
  port->SetBaudRate(115200);  // the same value: nothing
  EXPECT_EQ(opens, 1);
  port->SetBaudRate(57600);
  Settle();
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(port->Status(), kStatusOpened);
  EXPECT_EQ(drv.Dcb.BaudRate, 57600u) << "the opening took the setting";
  port->SetPortNumber(999);  // reopens on a port that is not there
  Settle();
  EXPECT_EQ(port->Status(), kStatusFailed);
  EXPECT_TRUE(port->Active());
}

TEST_F(PortObject, ChangingTheRingSizeWhileOpenReopensWithTheNewRing) {
  Open();
  pty.Write("abc");
  ASSERT_TRUE(WaitFor([&] { return port->ReceivedBytes() == 3; }));
  port->SetInpBufSize(32768);
  EXPECT_EQ(port->ReceivedBytes(), 0) << "nothing to read while the opening is under way";
  Settle();
  EXPECT_EQ(port->InpBufSize(), 32768);
  EXPECT_EQ(drv.InpBufSize, 32768);
  EXPECT_EQ(drv.InpBuf, port->InpBuf());
  EXPECT_EQ(port->ReceivedBytes(), 0) << "held bytes are lost";
  EXPECT_EQ(opens, 2);
  pty.Write("z");
  ASSERT_TRUE(WaitFor([&] { return port->ReceivedBytes() == 1; }));
}

TEST_F(PortObject, ABurstWithinTenMillisecondsGivesOneDataEvent) {
  Open();
  pty.Write("VER");
  pty.Write("SION");
  pty.Write("?\r");
  DeliverAfter(8);
  EXPECT_TRUE(receivedAtEvent.empty()) << "nothing before the 10 ms";
  ui->Advance(9);
  EXPECT_TRUE(receivedAtEvent.empty());
  ui->Advance(1);
  ASSERT_EQ(receivedAtEvent.size(), 1u);
  EXPECT_EQ(receivedAtEvent[0], 9);
  ui->Advance(100);
  EXPECT_EQ(receivedAtEvent.size(), 1u) << "an unread line gets no further event";
  pty.Write("x");
  DeliverAfter(10);
  ui->Advance(10);
  EXPECT_EQ(receivedAtEvent.size(), 2u) << "until more bytes arrive";
}

TEST_F(PortObject, ANoticeThatCouldNotBePostedDoesNotSilenceTheNextOne) {
  struct RefusingOnce : VirtualToolkit {
    std::atomic<bool> refused{false};
    void PostToUiThread(std::function<void()> call) override {
      if (!refused.exchange(true)) throw std::runtime_error("no room to post");
      VirtualToolkit::PostToUiThread(std::move(call));
    }
  } loop;
  loop.refused = true;  // the opening's word goes through
  TComPortKX refusing(loop, drv);
  refusing.OnReceiveData = [&](TComPortKX*) { receivedAtEvent.push_back(refusing.ReceivedBytes()); };
  refusing.SetPortNumber(kPort);
  refusing.SetActive(true);
  loop.RunPosted();
  ASSERT_TRUE(refusing.Open());
  loop.refused = false;
  pty.Write("a");
  ASSERT_TRUE(WaitFor([&] { return !ErrorLog().empty(); }));
  pty.Write("b");
  ASSERT_TRUE(WaitFor([&] { return refusing.ReceivedBytes() == 2; }));
  loop.RunUntil([] { return false; }, 30);  // its notice, then the input timer's 10 ms
  loop.Advance(10);
  EXPECT_EQ(receivedAtEvent, std::vector<std::int32_t>{2});
}

TEST_F(PortObject, AnEventAfterTheCloseFindsAnEmptyRing) {
  Open();
  pty.Write("OK\r");
  DeliverAfter(3);
  port->SetActive(false);
  ui->Advance(10);
  ASSERT_EQ(receivedAtEvent.size(), 1u);
  EXPECT_EQ(receivedAtEvent[0], 0);
  Settle();
}

TEST_F(PortObject, PutBlockWritesAndAClosedPortWritesNothing) {
  const std::uint8_t bytes[] = {'V', 'E', 'R', 'S', 'I', 'O', 'N', '?', '\r', '\n'};
  EXPECT_EQ(port->PutBlock(bytes, 10), 0u);  // closed: nothing, no error
  Open();
  const std::uint64_t first = port->PutBlock(bytes, 10);
  EXPECT_EQ(pty.ReadAvailable(500), "VERSION?\r\n");
  Settle();
  EXPECT_EQ(written, (std::vector<std::pair<std::uint64_t, bool>>{{first, true}}));
  EXPECT_TRUE(ErrorLog().empty());
  // The device hangs up: its word comes on the user-interface thread, once; a write fails.
  int gone = 0;
  port->OnDeviceGone = [&](TComPortKX* sender) {
    EXPECT_EQ(sender, port.get());
    ++gone;
  };
  pty.HangUp();
  EXPECT_TRUE(ui->RunUntil([&] { return gone > 0; }));
  ui->RunUntil([] { return false; }, 300);
  EXPECT_EQ(gone, 1);
  const std::uint64_t second = port->PutBlock(bytes, 10);
  Settle();
  EXPECT_EQ(written.back(), std::make_pair(second, false));
}

TEST_F(PortObject, TheConsumersTakeMovesTheRingFront) {
  Open();
  pty.Write("OK\rAB");
  ASSERT_TRUE(WaitFor([&] { return port->ReceivedBytes() == 5; }));
  port->SetInpBufRead(true);
  port->TakeBytes(3);
  port->SetInpBufRead(false);
  EXPECT_EQ(port->StartInInpBuf(), 3);
  EXPECT_EQ(port->ReceivedBytes(), 2);
  port->TakeBytes(10);  // more than held: takes what is there
  EXPECT_EQ(port->ReceivedBytes(), 0);
}

TEST_F(PortObject, AnExceptionFromTheOpenEventIsLoggedUnderSetActive) {
  port->OnOpen = [](TComPortKX*) { throw std::runtime_error("handler failed"); };
  port->SetPortNumber(kPort);
  port->SetActive(true);
  Settle();
  const auto log = ErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("TComPortKX.SetActive. Exception std::runtime_error. Exception message: handler failed"),
            std::string::npos);
  port->OnReceiveData = [](TComPortKX*) { throw std::runtime_error("consumer failed"); };
  port->OnInpTimer();
  EXPECT_NE(ErrorLog().back().find("TComPortKX.OnInpTimer. Exception"), std::string::npos);
}

}  // namespace
}  // namespace brek::test
