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

}  // namespace brek
