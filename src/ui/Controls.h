#pragma once
// The window's controls as plain data: the controller writes them, the front ends draw
// them and tests read them. A front end sets OnChanged to learn of a change.
#include <cstdint>
#include <functional>
#include <string>

#include "ui/Markup.h"

namespace brek {

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

class Control {
 public:
  std::function<void()> OnChanged;
  Rect Bounds;

 protected:
  void Changed() const {
    if (OnChanged) OnChanged();
  }
};

class TButton : public Control {
 public:
  int TabOrder = 0;
  std::function<void()> OnClick;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c) {
    caption_ = c;
    Changed();
  }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e) {
    enabled_ = e;
    Changed();
  }
  // What a click does: nothing while disabled.
  void Click() const {
    if (enabled_ && OnClick) OnClick();
  }

 private:
  std::string caption_;
  bool enabled_ = true;
};

// THTMLabel: a window-less markup label drawn transparently on its parent.
class THTMLabel : public Control {
 public:
  LabelStyle Style;

  const std::string& HTMLText() const { return text_; }
  void SetHTMLText(const std::string& t) {
    text_ = t;
    Changed();
  }

 private:
  std::string text_;
};

class TPanel : public Control {
 public:
  Color GetColor() const { return color_; }
  void SetColor(Color c) {
    color_ = c;
    Changed();
  }

 private:
  Color color_ = Color::SystemButtonFace();
};

// A native progress bar, hidden unless shown: how far a script being written has got. The
// front ends draw it in the window and mirror it on the desktop's own place for progress
// (the taskbar button, the dock's launcher entry).
class TProgressBar : public Control {
 public:
  enum class Mode { Normal, Paused, Error };
  bool Visible() const { return visible_; }
  int Position() const { return position_; }
  int Max() const { return max_; }
  Mode GetMode() const { return mode_; }
  void Set(bool visible, int position, int max, Mode mode) {
    if (visible == visible_ && position == position_ && max == max_ && mode == mode_) return;
    visible_ = visible;
    position_ = position;
    max_ = max;
    mode_ = mode;
    Changed();
  }
  void Hide() { Set(false, 0, max_, Mode::Normal); }

 private:
  bool visible_ = false;
  int position_ = 0, max_ = 1;
  Mode mode_ = Mode::Normal;
};

}  // namespace brek
