#include "ui/win32/GdiMarkup.h"

#include "ui/win32/Win32Toolkit.h"

#include <windows.h>

#include <vector>

namespace brek {
namespace {

std::wstring Expanded(std::string_view text) {
  std::wstring out;
  for (wchar_t c : ToWide(std::string(text))) {
    if (c == L'\t')
      out += L"        ";
    else
      out += c;
  }
  return out;
}

COLORREF Ref(Color c) { return RGB(c.r, c.g, c.b); }

HDC ScreenDc() {
  static HDC dc = CreateCompatibleDC(nullptr);
  return dc;
}

// GDI draws each glyph's bitmap and moves on by that bitmap's advance; under Wine those are
// hinted for black-and-white drawing while GetTextExtentPoint32 sums the outlines' advances,
// up to a pixel wider a letter, so words placed by it gapped wider after longer words. Runs
// are measured by the advances of the glyphs drawn, and drawn with them given explicitly.
std::vector<int> Advances(HDC dc, HFONT font, const std::wstring& text) {
  static std::map<std::pair<HFONT, wchar_t>, int> known;
  std::vector<int> out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    auto [it, added] = known.try_emplace({font, c}, 0);
    if (added) {
      const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
      GLYPHMETRICS gm{};
      if (GetGlyphOutlineW(dc, c, GGO_BITMAP, &gm, 0, nullptr, &identity) != GDI_ERROR) {
        it->second = gm.gmCellIncX;
      } else {  // not in the font itself
        SIZE size{};
        GetTextExtentPoint32W(dc, &c, 1, &size);
        it->second = static_cast<int>(size.cx);
      }
    }
    out.push_back(it->second);
  }
  return out;
}

int Sum(const std::vector<int>& advances, std::size_t count) {
  int total = 0;
  for (std::size_t i = 0; i < count && i < advances.size(); ++i) total += advances[i];
  return total;
}

}  // namespace

void* GdiFont(const FontSpec& f) {
  using Key = std::tuple<std::string, int, bool, bool, bool, bool>;
  static std::map<Key, HFONT> fonts;
  const Key key{f.name, f.heightPx, f.bold, f.italic, f.underline, f.strikeOut};
  auto it = fonts.find(key);
  if (it != fonts.end()) return it->second;
  const std::wstring face(f.name.begin(), f.name.end());
  HFONT font = CreateFontW(-f.heightPx, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, f.italic, f.underline, f.strikeOut,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  fonts.emplace(key, font);
  return font;
}

TextSize GdiFontMetrics::Measure(const FontSpec& font, std::string_view text) const {
  HDC dc = ScreenDc();
  HFONT f = static_cast<HFONT>(GdiFont(font));
  HGDIOBJ old = SelectObject(dc, f);
  const std::wstring w = Expanded(text);
  const int width = Sum(Advances(dc, f, w), w.size());
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  return {width, static_cast<int>(tm.tmHeight)};
}

void GdiMarkupPainter::DrawRun(const LaidOutRun& run) {
  RECT box{run.left + dx_, run.top + dy_, run.right + dx_, run.bottom + dy_};
  if (box.right <= box.left || box.bottom <= box.top) return;
  HDC dc = static_cast<HDC>(dc_);
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, box.left, box.top, box.right, box.bottom);
  HFONT font = static_cast<HFONT>(GdiFont(run.font));
  SelectObject(dc, font);
  const std::wstring text = Expanded(run.text);
  std::vector<int> advances = Advances(dc, font, text);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  if (run.background) {
    RECT fill{box.left, box.top, box.left + Sum(advances, text.size()), box.bottom};
    HBRUSH brush = CreateSolidBrush(Ref(*run.background));
    FillRect(dc, &fill, brush);
    DeleteObject(brush);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, Ref(run.font.color));
  // The text sits on the bottom of its box.
  SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
  ExtTextOutW(dc, box.left, box.bottom - tm.tmHeight, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()),
              advances.data());
  if (run.mnemonic >= 0 && run.mnemonic < static_cast<int>(text.size())) {
    const int before = Sum(advances, static_cast<std::size_t>(run.mnemonic));
    const int one = advances[static_cast<std::size_t>(run.mnemonic)];
    const int y = box.bottom - tm.tmDescent + 1;
    HPEN pen = CreatePen(PS_SOLID, 1, Ref(run.font.color));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    MoveToEx(dc, box.left + before, y, nullptr);
    LineTo(dc, box.left + before + one, y);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  }
  RestoreDC(dc, saved);
}

}  // namespace brek
