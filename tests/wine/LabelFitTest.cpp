// Every label laid out in every state with GDI's measurement of the real font, as the
// Windows program draws it: GDI's hinted advances are wider than Qt's.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "app/BrekGSMDemoMain.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"
#include "ui/win32/GdiMarkup.h"
#include "ui/win32/Win32Toolkit.h"

#include <windows.h>

namespace brek::test {
namespace {

class GdiLabels : public Sandbox {};

// How far GDI's own drawing of a text moves on: where a bar drawn after it ends, less where
// the bar alone ends. Words are placed by their measured widths; one measured wider than it
// is drawn leaves a gap after it that grows with the word.
int DrawnWidth(const FontSpec& font, const std::string& text) {
  constexpr int kWidth = 1200, kHeight = 40;
  static std::uint32_t* bits = nullptr;
  static HDC dc = [] {
    BITMAPINFO bi{{sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    HDC d = CreateCompatibleDC(nullptr);
    SelectObject(d, CreateDIBSection(d, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0));
    return d;
  }();
  SelectObject(dc, static_cast<HFONT>(GdiFont(font)));
  auto inkEnd = [&](const std::wstring& w) {
    std::fill(bits, bits + kWidth * kHeight, 0xFFFFFFu);
    TextOutW(dc, 0, 0, w.c_str(), static_cast<int>(w.size()));
    GdiFlush();
    int end = 0;
    for (int i = 0; i < kWidth * kHeight; ++i)
      if ((bits[i] & 0xFFFFFFu) != 0xFFFFFFu) end = std::max(end, i % kWidth + 1);
    return end;
  };
  return inkEnd(ToWide(text) + L"|") - inkEnd(L"|");
}

TEST_F(GdiLabels, OurOwnTextsFitTheirLabelsInEveryState) {
  VirtualToolkit ui;
  MainWindowControls controls;
  TBrekGSMDemoMainForm form(FormContext{&ui, &controls, (Dir() / "BrekGSMDemo").string()});
  ui.Advance(1);
  const GdiFontMetrics metrics;
  {
    // GDI substitutes a wider face for a missing Tahoma, and the texts wrap to a line more.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(GdiFont(FontSpec{})));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    ASSERT_EQ(std::wstring(face), L"Tahoma") << "the labels' font is not installed";
  }
  std::vector<THTMLabel*> labels = controls.PanelLabels();
  labels.push_back(&controls.ProgrammStateInfoLabel);
  labels.push_back(&controls.UserActionInfoLabel);
  // The call-centre number and the cloud address are our values; the rest is the caption
  // table's, which is reported, not failed.
  const std::vector<const THTMLabel*> ours = {&controls.CallCenterValueLabel, &controls.NubrixValueLabel};
  std::set<std::pair<bool, std::string>> checked;
  for (int state = psWaitConnect; state <= psLoadFtdef; ++state) {
    form.CurrentState = static_cast<TProgrammState>(state);
    form.AccountNumber = 8888;  // the widest digits
    form.ShowCurrentState();
    for (const THTMLabel* l : labels) {
      const MarkupLayout layout = LayoutMarkup(l->HTMLText(), l->Style, {0, 0, l->Bounds.width, 10000}, metrics);
      for (const LaidOutRun& run : layout.runs) {
        if (!checked.insert({run.font.bold, run.text}).second) continue;
        EXPECT_NEAR(metrics.Measure(run.font, run.text).width, DrawnWidth(run.font, run.text), 1) << run.text;
      }
      const bool own = std::find(ours.begin(), ours.end(), l) != ours.end();
      if (own) {
        // With a margin for a real Windows font that measures a little wider than Wine's.
        const MarkupLayout narrow =
            LayoutMarkup(l->HTMLText(), l->Style, {0, 0, l->Bounds.width * 97 / 100, 10000}, metrics);
        EXPECT_LE(narrow.height, l->Bounds.height) << "state " << state << ": " << l->HTMLText();
        // The narrowest width it fits, for the figures.
        int lo = 1, hi = 10000;
        while (lo < hi) {
          const int mid = (lo + hi) / 2;
          if (LayoutMarkup(l->HTMLText(), l->Style, {0, 0, mid, 10000}, metrics).height <= l->Bounds.height)
            hi = mid;
          else
            lo = mid + 1;
        }
        const int widest = lo;
        if (state == psDemoLoaded) std::printf("ours: %d of %d px: %s\n", widest, l->Bounds.width, l->HTMLText().c_str());
      } else {
        EXPECT_LE(layout.height, l->Bounds.height) << "state " << state << ": the caption table's text: " << l->HTMLText();
      }
    }
  }
}

}  // namespace
}  // namespace brek::test
