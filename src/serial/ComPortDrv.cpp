// The platform-free half of the driver: the record and the consumer's ring updates.
#include "serial/ComPortDrv.h"

namespace brek {

TCommDrvRec CommDrv;

void CommTakeBytes(TCommDrvRec& rec, std::int32_t count) {
  std::lock_guard lock(rec.RingMutex);
  const std::int32_t held = rec.ReceivedBytes.load();
  if (count > held) count = held;  // the reader emptied a full ring meanwhile
  if (count <= 0) return;
  std::int32_t start = rec.StartInInpBuf.load() + count;
  if (rec.InpBufSize > 0) start %= rec.InpBufSize;
  rec.StartInInpBuf.store(start);
  rec.ReceivedBytes.store(held - count);
}

void CommRingRestart(TCommDrvRec& rec) {
  std::lock_guard lock(rec.RingMutex);
  rec.StartInInpBuf.store(0);
}

}  // namespace brek
