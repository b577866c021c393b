#pragma once
// The markup engine's font metrics and painter on GDI.
#include <map>
#include <string>
#include <tuple>

#include "ui/Markup.h"

namespace brek {

// Fonts by description, made once and kept for the life of the program.
void* GdiFont(const FontSpec& font);

class GdiFontMetrics : public FontMetrics {
 public:
  TextSize Measure(const FontSpec& font, std::string_view text) const override;
};

class GdiMarkupPainter : public MarkupPainter {
 public:
  // dc: an HDC; the runs are drawn shifted by the offset.
  GdiMarkupPainter(void* dc, int dx, int dy) : dc_(dc), dx_(dx), dy_(dy) {}
  void DrawRun(const LaidOutRun& run) override;

 private:
  void* dc_;
  int dx_, dy_;
};

}  // namespace brek
