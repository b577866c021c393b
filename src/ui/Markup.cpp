#include "ui/Markup.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/Text.h"

namespace brek {
namespace {

// Case-insensitive replacement of every occurrence; true when anything was replaced.
bool ReplaceAllNoCase(std::string& s, std::string_view what, std::string_view with) {
  // One pass, left to right, the replacements not looked at again; a copy upper-cased for
  // every match made a text full of entities quadratic. A first character without case
  // (the "&" of every entity) is looked for with find rather than byte by byte.
  if (what.empty()) return false;
  const char first = UpperAscii(what[0]);
  const bool caseless = first < 'A' || first > 'Z';
  std::string out;
  std::size_t copied = 0;
  for (std::size_t i = 0; what.size() <= s.size() - i;) {
    if (caseless) {
      i = s.find(first, i);
      if (i == std::string::npos || what.size() > s.size() - i) break;
    } else if (UpperAscii(s[i]) != first) {
      ++i;
      continue;
    }
    if (!SameText(std::string_view(s).substr(i, what.size()), what)) {
      ++i;
      continue;
    }
    out.append(s, copied, i - copied);
    out += with;
    i += what.size();
    copied = i;
  }
  if (copied == 0) return false;
  out.append(s, copied);
  s = std::move(out);
  return true;
}

struct NamedColor {
  const char* name;
  Color color;
};

// Colour names of the font tag, with the classic system colour scheme for the system ones.
constexpr std::array<NamedColor, 41> kNamedColors = {{
    {"clblack", {0, 0, 0}},          {"clmaroon", {128, 0, 0}},       {"clgreen", {0, 128, 0}},
    {"clolive", {128, 128, 0}},      {"clnavy", {0, 0, 128}},         {"clpurple", {128, 0, 128}},
    {"clteal", {0, 128, 128}},       {"clgray", {128, 128, 128}},     {"clsilver", {192, 192, 192}},
    {"clred", {255, 0, 0}},          {"cllime", {0, 255, 0}},         {"clyellow", {255, 255, 0}},
    {"clblue", {0, 0, 255}},         {"clfuchsia", {255, 0, 255}},    {"claqua", {0, 255, 255}},
    {"clwhite", {255, 255, 255}},    {"clscrollbar", {200, 200, 200}}, {"clbackground", {0, 0, 0}},
    {"clactivecaption", {153, 180, 209}}, {"clinactivecaption", {191, 205, 219}}, {"clmenu", {240, 240, 240}},
    {"clwindow", {255, 255, 255}},   {"clwindowframe", {100, 100, 100}}, {"clmenutext", {0, 0, 0}},
    {"clwindowtext", {0, 0, 0}},     {"clcaptiontext", {0, 0, 0}},    {"clactiveborder", {180, 180, 180}},
    {"clinactiveborder", {244, 247, 252}}, {"clappworkspace", {171, 171, 171}}, {"clhighlight", {0, 120, 215}},
    {"clhighlighttext", {255, 255, 255}}, {"clbtnface", {240, 240, 240}}, {"clbtnshadow", {160, 160, 160}},
    {"clgraytext", {109, 109, 109}}, {"clbtntext", {0, 0, 0}},        {"clinactivecaptiontext", {0, 0, 0}},
    {"clbtnhighlight", {255, 255, 255}}, {"cl3ddkshadow", {105, 105, 105}}, {"cl3dlight", {227, 227, 227}},
    {"clinfotext", {0, 0, 0}},       {"clinfobk", {255, 255, 225}},
}};

constexpr Color kAlternateTextColor{0, 0, 128};
constexpr Color kHighlight{0, 120, 215};
constexpr Color kHighlightText{255, 255, 255};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text between the next pair of double quotes at or after from.
std::optional<std::string> QuotedValue(std::string_view original, std::size_t from) {
  const std::size_t q1 = original.find('"', from);
  if (q1 == std::string_view::npos) return std::nullopt;
  const std::size_t q2 = original.find('"', q1 + 1);
  if (q2 == std::string_view::npos) return std::nullopt;
  return std::string(original.substr(q1 + 1, q2 - q1 - 1));
}

struct TextState {
  FontSpec font;
  std::optional<Color> background;
  bool shadow = false;
  bool hidden = false;
  int listLevel = 0;
};

void ApplyFontTag(const std::string& tag, TextState& st) {
  if (tag.size() < 6) return;
  const std::string original = tag.substr(5, tag.size() - 6);  // after "<" and a four-letter name, before ">"
  const std::string attrs = UpperCase(original);
  if (const auto p = attrs.find(" COLOR"); p != std::string::npos) {
    if (auto v = QuotedValue(original, p); v && !v->empty())
      if (auto c = ParseColorValue(*v)) st.font.color = *c;
  }
  if (const auto p = attrs.find("BGCOLOR"); p != std::string::npos) {
    if (auto v = QuotedValue(original, p); v && !v->empty())
      if (auto c = ParseColorValue(*v)) st.background = *c;
  }
  if (const auto p = attrs.find("FACE"); p != std::string::npos) {
    if (auto v = QuotedValue(original, p); v && !v->empty()) st.font.name = *v;
  }
  if (const auto p = attrs.find("SIZE"); p != std::string::npos) {
    std::string v;
    if (auto q = QuotedValue(original, p)) {
      v = *q;
    } else if (const auto eq = attrs.find('=', p); eq != std::string::npos) {
      for (std::size_t i = eq + 1; i < attrs.size() && attrs[i] >= '0' && attrs[i] <= '9'; ++i) v += attrs[i];
    }
    if (auto n = TryStrToInt(Trim(v)); n && *n > 0 && *n < 200) {
      static const int kSizes[] = {8, 10, 12, 14, 16};
      const int points = *n >= 1 && *n <= 5 ? kSizes[*n - 1] : *n;
      st.font.heightPx = static_cast<int>(std::lround(points * 96.0 / 72.0));
    }
  }
}

// Applies a tag; true when it ends the line.
bool ApplyTag(const std::string& tag, TextState& st, const LabelStyle& style) {
  const std::string u = UpperCase(tag);
  const FontSpec& base = style.font;
  auto at = [&](std::size_t i) { return i < u.size() ? u[i] : '\0'; };
  if (at(1) == '/' && u.size() > 3) {
    switch (at(2)) {
      case 'A': st.font.underline = false; st.font.color = base.color; break;
      case 'B':
        if (at(3) == '>') st.font.bold = false;
        else st.font.color = base.color;
        break;
      case 'F':
        st.font.name = base.name;
        st.font.heightPx = base.heightPx;
        st.font.color = base.color;
        st.background.reset();
        break;
      case 'H': st.background.reset(); st.font.color = base.color; break;
      case 'I': st.font.italic = false; break;
      case 'L': case 'P': return true;
      case 'S':
        if (at(3) == 'U') break;
        if (at(3) == 'H') st.shadow = false;
        else st.font.strikeOut = false;
        break;
      case 'U':
        if (at(3) == '>' || st.listLevel == 0) st.font.underline = false;
        else --st.listLevel;
        break;
      case 'Z': st.hidden = false; break;
      default: break;  // E, O, R and unknown: no effect
    }
    return false;
  }
  switch (at(1)) {
    case 'A': st.font.underline = true; st.font.color = style.urlColor; break;
    case 'B':
      if (at(2) == '>') st.font.bold = true;
      else if (at(2) == 'R') return true;
      else if (at(2) == 'L') st.font.color = kAlternateTextColor;
      break;  // BODY and the like: no effect on text
    case 'F': ApplyFontTag(tag, st); break;
    case 'H':
      if (at(2) == 'I') { st.background = kHighlight; st.font.color = kHighlightText; }
      else if (at(2) == 'R') return true;
      break;
    case 'I':
      if (at(2) == '>') st.font.italic = true;
      break;  // IND and IMG are not used by the program's texts
    case 'S':
      if (at(2) == '>') st.font.strikeOut = true;
      else if (at(2) == 'H') st.shadow = true;
      break;  // SUB and SUP: no effect
    case 'U':
      if (at(2) == '>') st.font.underline = true;
      else { ++st.listLevel; return true; }
      break;
    case 'Z': st.hidden = true; break;
    default: break;  // E, L, O, P, R and unknown tags: skipped
  }
  return false;
}

std::string RunEntities(std::string run) {
  ReplaceAllNoCase(run, "&nbsp;", " ");
  ReplaceAllNoCase(run, "&lt;", "<");
  ReplaceAllNoCase(run, "&gt;", ">");
  return run;
}

// "&&" shows one "&"; "&x" shows x underlined.
std::string ApplyMnemonics(const std::string& run, int& mnemonic) {
  std::string out;
  for (std::size_t k = 0; k < run.size(); ++k) {
    if (run[k] == '&' && k + 1 < run.size()) {
      ++k;
      if (run[k] != '&' && mnemonic < 0) mnemonic = static_cast<int>(out.size());
    }
    out += run[k];
  }
  return out;
}

struct PendingRun {
  int left;
  TextState state;
  std::string text;
  int mnemonic;
};

}  // namespace

std::optional<Color> ParseColorValue(std::string_view value) {
  if (value.empty()) return std::nullopt;
  if (value[0] == '#') {
    if (value.size() < 7) return std::nullopt;
    int d[6];
    for (int i = 0; i < 6; ++i)
      if ((d[i] = HexDigit(value[1 + i])) < 0) return std::nullopt;
    return Color::Rgb(static_cast<std::uint8_t>(d[0] * 16 + d[1]), static_cast<std::uint8_t>(d[2] * 16 + d[3]),
                      static_cast<std::uint8_t>(d[4] * 16 + d[5]));
  }
  const std::string name = LowerCase(value);
  for (const auto& c : kNamedColors)
    if (name == c.name) return c.color;
  return Color::Black();
}

std::string PrepareMarkup(std::string_view markup) {
  std::string s(markup);
  if (s.find('&') != std::string::npos) {
    static const std::pair<const char*, const char*> kEntities[] = {
        {"&amp;", "&&"},    {"&quot;", "\""}, {"&sect;", "\xA7"}, {"&permil;", "\xAE\x89"}, {"&reg;", "\xAE"},
        {"&copy;", "\xA9"}, {"&para;", "\xB6"}, {"&trade;", "\x99"}, {"&euro;", "\x80"}};
    // "&amp;" alone would feed itself for ever ("&&amp;..."); each pass replaces what it
    // finds, and passes go on while a pass changed something new.
    for (int pass = 0; pass < 16; ++pass) {
      bool any = false;
      for (const auto& [from, to] : kEntities) any |= ReplaceAllNoCase(s, from, to);
      if (!any) break;
    }
  }
  if (const auto lt = s.find("<#"); lt != std::string::npos) {
    const auto gt = s.find('>', lt);
    if (gt != std::string::npos) s.erase(gt, 1);
    s.erase(lt, 1);
  }
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\r') out += "<BR>";
    else if (c != '\n') out += c;
  }
  return out;
}

std::vector<MarkupToken> ParseMarkup(std::string_view s, bool wordWrap) {
  std::vector<MarkupToken> tokens;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '<') {
      const std::size_t gt = s.find('>', i);
      if (gt == std::string_view::npos) break;  // an unclosed tag drops the rest
      tokens.push_back({MarkupToken::Tag, std::string(s.substr(i, gt - i + 1))});
      i = gt + 1;
      continue;
    }
    std::size_t end = s.find('<', i);
    if (end == std::string_view::npos) end = s.size();
    if (wordWrap) {
      const std::size_t blank = s.find(' ', i);
      if (blank != std::string_view::npos && blank < end) end = blank + 1;
    }
    tokens.push_back({MarkupToken::Text, std::string(s.substr(i, end - i))});
    i = end;
  }
  return tokens;
}

std::string MarkupPlainText(std::string_view markup) {
  const std::string prepared = PrepareMarkup(markup);
  const bool mnemonics = prepared.find(" & ") == std::string::npos;
  const LabelStyle style;
  TextState st;
  std::string out;
  auto endLine = [&out] {
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
  };
  // Without word wrap a run ends only at a tag: the same text as the wrapped runs drawn.
  for (const MarkupToken& tok : ParseMarkup(prepared, false)) {
    if (tok.kind == MarkupToken::Tag) {
      if (ApplyTag(tok.text, st, style)) {
        endLine();
        out += '\n';
      }
    } else if (!st.hidden) {
      int mnemonic = -1;
      const std::string run = RunEntities(tok.text);
      out += mnemonics ? ApplyMnemonics(run, mnemonic) : run;
    }
  }
  endLine();
  while (!out.empty() && out.back() == '\n') out.pop_back();
  const std::size_t first = out.find_first_not_of(" \t\n");
  return first == std::string::npos ? std::string() : out.substr(first);
}

MarkupLayout LayoutMarkup(std::string_view markup, const LabelStyle& style, const LayoutRect& rect,
                          const FontMetrics& metrics) {
  const bool wordWrap = !style.ellipsis;
  const std::string prepared = PrepareMarkup(markup);
  const bool mnemonics = prepared.find(" & ") == std::string::npos;
  const std::vector<MarkupToken> tokens = ParseMarkup(prepared, wordWrap);

  MarkupLayout layout;
  TextState st;
  st.font = style.font;
  const int x0 = rect.left + 1;
  const int usable = rect.right - x0;
  int top = rect.top;
  std::size_t i = 0;
  while (i < tokens.size()) {
    const FontSpec lineStartFont = st.font;
    int lineHeight = metrics.Measure(st.font, "gh").height;
    std::vector<PendingRun> line;
    int pen = 0;  // from x0
    std::string lineSoFar;
    bool lineEnded = false;
    while (i < tokens.size() && !lineEnded) {
      const MarkupToken& tok = tokens[i];
      if (tok.kind == MarkupToken::Tag) {
        lineEnded = ApplyTag(tok.text, st, style);
        ++i;
        continue;
      }
      if (st.hidden) {
        ++i;
        continue;
      }
      const std::string run = RunEntities(tok.text);
      int mnemonic = -1;
      const std::string shown = mnemonics ? ApplyMnemonics(run, mnemonic) : run;
      const TextSize size = metrics.Measure(st.font, shown);
      lineHeight = std::max(lineHeight, size.height);
      const bool endsWithBlank = !shown.empty() && shown.back() == ' ';
      const int trailing = endsWithBlank ? metrics.Measure(st.font, " ").width : 0;
      // A run wider than the whole line stays only where it starts the line: it then stands
      // alone, clipped at the right edge, rather than overrunning the words before it.
      const bool stays = !wordWrap || pen + size.width - trailing < usable || lineSoFar.empty() ||
                         lineSoFar.back() != ' ';
      if (!stays) break;  // the run starts the next line
      line.push_back({x0 + pen, st, shown, mnemonic});
      pen += size.width;
      lineSoFar += shown;
      ++i;
    }
    const int bottom = top + lineHeight;
    for (const PendingRun& r : line) {
      if (r.state.shadow) {
        LaidOutRun shadow{r.left + style.shadowOffset, top + style.shadowOffset, rect.right + style.shadowOffset,
                          bottom + style.shadowOffset, r.state.font, std::nullopt, r.text, r.mnemonic};
        shadow.font.color = style.shadowColor;
        layout.runs.push_back(std::move(shadow));
      }
      layout.runs.push_back({r.left, top, rect.right, bottom, r.state.font, r.state.background, r.text, r.mnemonic});
    }
    ++layout.lineCount;
    layout.height = bottom - rect.top;
    // Stop rule: the next line must fit with the height of "gh" in the font this line began with.
    if (bottom + metrics.Measure(lineStartFont, "gh").height > rect.bottom) break;
    top = bottom;
  }

  if (style.vAlignment != VAlignment::tvaTop && layout.height < rect.bottom - rect.top) {
    const int room = rect.bottom - rect.top - layout.height;
    const int shift = style.vAlignment == VAlignment::tvaCenter ? room / 2 : room;
    for (LaidOutRun& r : layout.runs) {
      r.top += shift;
      r.bottom += shift;
    }
  }
  return layout;
}

void PaintMarkup(const MarkupLayout& layout, MarkupPainter& painter) {
  for (const LaidOutRun& r : layout.runs) painter.DrawRun(r);
}

}  // namespace brek
