// The markup engine: any text, laid out in any box with any style, then painted.
#include "FuzzInput.h"
#include "support/FakeMetrics.h"
#include "ui/Markup.h"

using namespace brek;

namespace {
class CountingPainter : public MarkupPainter {
 public:
  void DrawRun(const LaidOutRun& run) override { chars += run.text.size(); }
  std::size_t chars = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  LabelStyle style;
  const std::uint8_t flags = in.Byte();
  style.ellipsis = (flags & 1) != 0;
  style.vAlignment = static_cast<VAlignment>((flags >> 1) % 3);
  style.shadowOffset = (flags >> 3) % 5;
  style.font.heightPx = 1 + in.Byte() % 40;
  const int width = static_cast<int>(in.Word() % 2000) - 10;
  const int height = static_cast<int>(in.Word() % 2000) - 10;
  const std::string text = in.Rest();
  // The layout prepares and parses the text itself.
  const test::FixedMetrics metrics;
  const MarkupLayout layout = LayoutMarkup(text, style, {0, 0, width, height}, metrics);
  CountingPainter painter;
  PaintMarkup(layout, painter);
  return 0;
}
