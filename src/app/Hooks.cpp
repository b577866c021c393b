// Entry points that the serial link, the dialogue and hot-plug fill in.
#include "app/BrekGSMDemoMain.h"

namespace brek {

void TBrekGSMDemoMainForm::OnStartDemoButtonClick() {}
void TBrekGSMDemoMainForm::OnEndDemoButtonClick() {}
void TBrekGSMDemoMainForm::OnMoneyLittleButtonClick() {}
void TBrekGSMDemoMainForm::OnMoneyOffButtonClick() {}
void TBrekGSMDemoMainForm::OnMoneyFullButtonClick() {}
void TBrekGSMDemoMainForm::OnSendCommandTimer() {}
void TBrekGSMDemoMainForm::CreateRegister() {}
void TBrekGSMDemoMainForm::SetPortDefault() {}
void TBrekGSMDemoMainForm::RefreshComPorts(bool) {}
void TBrekGSMDemoMainForm::OnCheckPortsTimer() {}
void TBrekGSMDemoMainForm::ClearPortList() { PortList.clear(); }
void TBrekGSMDemoMainForm::DestroyPort() {}

}  // namespace brek
