#pragma once
// The system's notices about the open port's own device (Windows): each opening registers
// its handle with a window, which hands its WM_DEVICECHANGE messages here.
#include <cstdint>

#include "serial/ComPortDrv.h"

namespace brek {

// The window the openings register with (none: no notices); set before the first opening.
void CommSetNoticeWindow(void* window);
// A WM_DEVICECHANGE of that window: true when it was about rec's open device and said the
// device is going (a query to remove it, or its removal), which is then reported as the
// device gone, as the reader reports a hang-up. A query first ends the running write and
// has the handle closed (rec.OnLetGoNow, bounded) before it returns, as Windows needs to
// remove the device. Refused after all (DBT_DEVICEQUERYREMOVEFAILED): false, so that the
// device list looks again and the port is opened again.
bool CommDeviceNotice(TCommDrvRec& rec, std::uintptr_t wParam, std::intptr_t lParam);

}  // namespace brek
