#pragma once
// A font whose every character has a fixed advance, so layout tests are exact:
// 6 px a character (7 bold), line height the pixel height plus 2 (13 for the labels' 11 px).
#include "ui/Markup.h"

namespace brek::test {

class FixedMetrics : public FontMetrics {
 public:
  TextSize Measure(const FontSpec& font, std::string_view text) const override {
    return {static_cast<int>(text.size()) * (font.bold ? 7 : 6), font.heightPx + 2};
  }
};

}  // namespace brek::test
