#pragma once
// The main window as designed: fixed size, background picture, the five buttons, the two
// state labels and the bottom panel with its six labels.
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace brek {

inline constexpr int kClientWidth = 640, kClientHeight = 493;
inline constexpr int kFrameWidth = 648, kFrameHeight = 520;
inline constexpr Color kSecurityCenterPanelColor = Color::Rgb(243, 245, 246);

struct MainWindowControls {
  std::string Caption;  // the window title, Windows-1251
  Rect BackgroundImage;

  TButton StartDemoButton, MoneyLittleButton, MoneyOffButton, MoneyFullButton, EndDemoButton;
  THTMLabel ProgrammStateInfoLabel, UserActionInfoLabel;
  TPanel SecurityCenterPanel;
  // Inside the panel; their bounds are relative to it.
  THTMLabel ObjectsTitleLabel, NubrixTitleLabel, CallCenterTitleLabel;
  THTMLabel ObjectsValueLabel, CallCenterValueLabel, NubrixValueLabel;
  // Shown while a script is written, in the action area those states leave empty.
  TProgressBar ScriptProgressBar;

  MainWindowControls();

  std::vector<TButton*> ButtonsInCreationOrder();
  std::vector<TButton*> ButtonsInTabOrder();
  // In reading order, left to right, each title before its value: the front ends make them so.
  std::vector<THTMLabel*> PanelLabels();
};

// The caption of the window before the version is appended.
std::string DesignedWindowCaption();

}  // namespace brek
