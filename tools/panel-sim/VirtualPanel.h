#pragma once
// The simulated panel as the driver's backend, in the toolkit's (virtual) time: the
// program's port opens onto it, what the program writes goes to the panel model, and the
// model's answers arrive in the receive ring after their delay as the reader would store
// them. "reset" and "START_MAIN" make the panel's port go away and come back.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeSerialDevices.h"
#include "PanelModel.h"
#include "serial/ComPortDrv.h"
#include "common/EventLoop.h"

namespace brek::sim {

class VirtualPanel : public CommBackend {
 public:
  VirtualPanel(EventLoop& ui, FakeSerialDevices& devices, PanelConfig config = {}, std::string dosName = "COM7");
  ~VirtualPanel() override;

  // The panel plugged in or pulled out (with the device notice unless told otherwise).
  void Plug(bool notify = true);
  void Unplug(bool notify = true);
  // The line hung up under the open port (the reader's word that the device is gone).
  void HangUp();
  // Bytes as if the panel sent them, now.
  void Send(const std::string& bytes);

  bool Present() const { return present_; }
  bool Held() const { return held_; }
  std::int32_t Number() const { return number_; }
  PanelModel& Model() { return model_; }
  int Openings() const { return openings_; }
  std::string FriendlyName() const;

  // Test knobs: openings refused although the port is free (another program holding it for
  // a moment), every port number probed, and a call after each write reached the panel.
  int refuseOpenings = 0;
  int failWrites = 0;  // writes the device takes nothing of
  bool discards = true;  // what the driver holds of a failed write is thrown away
  bool heldElsewhere = false;  // another program holds the panel's port: probes find it so
  std::function<void()> onFailedWrite;  // while such a write waits (the cable pulled meanwhile, say)
  std::vector<std::int32_t> probed;
  std::function<void(const std::string& bytes)> afterWrite;

  bool Open(TCommDrvRec& rec) override;
  void Close(TCommDrvRec& rec) override;
  std::uint32_t Write(THandle handle, const std::uint8_t* bytes, std::uint32_t count) override;
  TProbe Probe(std::int32_t number) override;
  bool Discard(TCommDrvRec&) override { return discards; }

 private:
  void After(std::uint32_t ms, std::function<void()> action);
  void Deliver(std::uint64_t session, const std::string& bytes);

  EventLoop& ui_;
  FakeSerialDevices& devices_;
  PanelModel model_;
  std::string dosName_;
  std::int32_t number_;
  bool present_ = false;
  bool held_ = false;
  int openings_ = 0;
  bool deaf_ = false;       // still starting: what arrives is lost
  std::uint64_t plugs_ = 0;
  std::uint64_t session_ = 0;  // one per opening: answers to an earlier opening are lost
  TCommDrvRec* rec_ = nullptr;
  std::string queued_;  // the system's input queue
  std::uint64_t busyUntilMs_ = 0;  // a panel that answers one line at a time
  std::vector<std::unique_ptr<Timer>> timers_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace brek::sim
