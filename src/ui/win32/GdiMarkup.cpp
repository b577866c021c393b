#include "ui/win32/GdiMarkup.h"

#include "ui/win32/Win32Toolkit.h"

#include <windows.h>

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
  HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(GdiFont(font)));
  const std::wstring w = Expanded(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  return {static_cast<int>(size.cx), static_cast<int>(tm.tmHeight)};
}

void GdiMarkupPainter::DrawRun(const LaidOutRun& run) {
  RECT box{run.left + dx_, run.top + dy_, run.right + dx_, run.bottom + dy_};
  if (box.right <= box.left || box.bottom <= box.top) return;
  HDC dc = static_cast<HDC>(dc_);
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, box.left, box.top, box.right, box.bottom);
  SelectObject(dc, static_cast<HFONT>(GdiFont(run.font)));
  const std::wstring text = Expanded(run.text);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (run.background) {
    RECT fill{box.left, box.top, box.left + size.cx, box.bottom};
    HBRUSH brush = CreateSolidBrush(Ref(*run.background));
    FillRect(dc, &fill, brush);
    DeleteObject(brush);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, Ref(run.font.color));
  // The text sits on the bottom of its box.
  DrawTextExW(dc, const_cast<wchar_t*>(text.c_str()), static_cast<int>(text.size()), &box,
              DT_SINGLELINE | DT_BOTTOM | DT_LEFT | DT_NOPREFIX | DT_NOCLIP, nullptr);
  if (run.mnemonic >= 0 && run.mnemonic < static_cast<int>(text.size())) {
    SIZE before{}, one{};
    GetTextExtentPoint32W(dc, text.c_str(), run.mnemonic, &before);
    GetTextExtentPoint32W(dc, text.c_str() + run.mnemonic, 1, &one);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int y = box.bottom - tm.tmDescent + 1;
    HPEN pen = CreatePen(PS_SOLID, 1, Ref(run.font.color));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    MoveToEx(dc, box.left + before.cx, y, nullptr);
    LineTo(dc, box.left + before.cx + one.cx, y);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  }
  RestoreDC(dc, saved);
}

}  // namespace brek
