#pragma once
// The markup engine behind THTMLabel, in three separate steps: parse the markup into tags
// and text runs, lay the runs out in lines inside a rectangle (measuring through
// FontMetrics), and paint the laid-out runs through a MarkupPainter.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brek {

struct Color {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Color&, const Color&) = default;
  static constexpr Color Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return {r, g, b}; }
  static constexpr Color Black() { return {0, 0, 0}; }
  static constexpr Color White() { return {255, 255, 255}; }
  static constexpr Color Gray() { return {128, 128, 128}; }
  static constexpr Color Blue() { return {0, 0, 255}; }
  static constexpr Color SystemButtonFace() { return {240, 240, 240}; }
  static constexpr Color SystemWindowText() { return {0, 0, 0}; }
};

struct FontSpec {
  std::string name = "Tahoma";
  int heightPx = 11;
  bool bold = false, italic = false, underline = false, strikeOut = false;
  Color color = Color::SystemWindowText();
  friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

enum class VAlignment { tvaTop, tvaCenter, tvaBottom };

// The label settings that matter for drawing.
struct LabelStyle {
  FontSpec font;
  VAlignment vAlignment = VAlignment::tvaTop;
  bool ellipsis = false;  // false: word wrap on
  Color shadowColor = Color::Gray();
  int shadowOffset = 2;
  Color urlColor = Color::Blue();
};

struct TextSize {
  int width = 0, height = 0;
};

class FontMetrics {
 public:
  virtual ~FontMetrics() = default;
  // Width and height of a single line of Windows-1251 text (tabs expanded).
  virtual TextSize Measure(const FontSpec& font, std::string_view text) const = 0;
};

// ---- Parse ----
struct MarkupToken {
  enum Kind { Text, Tag } kind = Text;
  std::string text;  // a run of text, or the whole tag from "<" to ">"
};

// Entities, the "<#" rule, CR to "<BR>", LF removed.
std::string PrepareMarkup(std::string_view markup);
// Tags and runs; with word wrap a run holds at most one blank, at its end. An unclosed
// "<" drops the rest.
std::vector<MarkupToken> ParseMarkup(std::string_view prepared, bool wordWrap);
// The text as a screen reader reads it: the tags dropped, each line-ending tag a line break,
// hidden text left out, entities and mnemonic markers as drawn, blanks at line ends trimmed.
std::string MarkupPlainText(std::string_view markup);
// Colour of a font tag value: "#rrggbb" or a colour name; nullopt when unreadable.
std::optional<Color> ParseColorValue(std::string_view value);

// ---- Layout ----
struct LaidOutRun {
  int left = 0, top = 0, right = 0, bottom = 0;  // the run's box; text is bottom-aligned and clipped to it
  FontSpec font;
  std::optional<Color> background;
  std::string text;    // as drawn (mnemonic markers removed)
  int mnemonic = -1;   // index of the underlined mnemonic character, -1 none
};

struct MarkupLayout {
  std::vector<LaidOutRun> runs;  // in drawing order (a shadow before its run)
  int lineCount = 0;
  int height = 0;  // of the drawn lines
};

struct LayoutRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

MarkupLayout LayoutMarkup(std::string_view markup, const LabelStyle& style, const LayoutRect& rect,
                          const FontMetrics& metrics);

// ---- Paint ----
class MarkupPainter {
 public:
  virtual ~MarkupPainter() = default;
  virtual void DrawRun(const LaidOutRun& run) = 0;
};

void PaintMarkup(const MarkupLayout& layout, MarkupPainter& painter);

}  // namespace brek
