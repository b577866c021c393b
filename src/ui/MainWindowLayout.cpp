#include "ui/MainWindowLayout.h"

#include <algorithm>

#include "common/Cp1251.h"

namespace brek {
namespace {

void Place(TButton& b, Rect r, int tabOrder, const char* captionUtf8) {
  b.Bounds = r;
  b.TabOrder = tabOrder;
  b.SetCaption(Utf8ToCp1251(captionUtf8));
}

void Place(THTMLabel& l, Rect r, Color textColor, const char* textUtf8) {
  l.Bounds = r;
  l.Style = LabelStyle{};
  l.Style.font = FontSpec{"Tahoma", 11, false, false, false, false, textColor};
  l.SetHTMLText(Utf8ToCp1251(textUtf8));
}

}  // namespace

std::string DesignedWindowCaption() { return Utf8ToCp1251("Брек GSM: демонстрация работы. Версия"); }

MainWindowControls::MainWindowControls() {
  Caption = DesignedWindowCaption();
  BackgroundImage = {0, 0, 640, 430};
  const Color white = Color::White(), text = Color::SystemWindowText();
  Place(ProgrammStateInfoLabel, {30, 290, 290, 42}, white, "Строка 1<BR>Строка 2<BR>Строка 3");
  Place(UserActionInfoLabel, {340, 290, 270, 19}, white, "Строка 1");
  Place(StartDemoButton, {30, 346, 171, 25}, 0, "Записать демо-настройки");
  Place(EndDemoButton, {30, 377, 199, 25}, 4, "Записать заводские настройки");
  Place(MoneyOffButton, {340, 346, 173, 25}, 2, "Отключить услуги охраны");
  Place(MoneyLittleButton, {340, 315, 165, 25}, 1, "Предупредить об оплате");
  Place(MoneyFullButton, {340, 377, 125, 25}, 3, "Услуги оплачены");
  SecurityCenterPanel.Bounds = {0, 430, 640, 63};
  Place(ObjectsTitleLabel, {30, 16, 75, 13}, text, "<B>Объекты</B>");
  Place(NubrixTitleLabel, {340, 16, 213, 13}, text, "<B>Доступ в облачные сервисы</B>");
  Place(CallCenterTitleLabel, {162, 16, 155, 13}, text, "<B>Телефон call-центра</B>");
  Place(ObjectsValueLabel, {30, 33, 115, 13}, text, "5678, 5679");
  Place(CallCenterValueLabel, {162, 33, 155, 13}, text, "+7 800 000-00-00, доб. 1");
  Place(NubrixValueLabel, {340, 33, 221, 13}, text, "demo+5678@nb.test  |  demo5678");
  // In the action hint's place, which both loading states leave empty: nothing else moves,
  // and the disabled buttons below stay where the demonstrator saw them.
  ScriptProgressBar.Bounds = {340, 291, 270, 17};
}

std::vector<TButton*> MainWindowControls::ButtonsInCreationOrder() {
  return {&StartDemoButton, &EndDemoButton, &MoneyOffButton, &MoneyLittleButton, &MoneyFullButton};
}

std::vector<TButton*> MainWindowControls::ButtonsInTabOrder() {
  auto b = ButtonsInCreationOrder();
  std::sort(b.begin(), b.end(), [](const TButton* x, const TButton* y) { return x->TabOrder < y->TabOrder; });
  return b;
}

std::vector<THTMLabel*> MainWindowControls::PanelLabels() {
  return {&ObjectsTitleLabel,    &ObjectsValueLabel, &CallCenterTitleLabel,
          &CallCenterValueLabel, &NubrixTitleLabel,  &NubrixValueLabel};
}

}  // namespace brek
