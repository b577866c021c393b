#include "ui/win32/MainWindow.h"

#include "ui/win32/GdiMarkup.h"

#include <windows.h>

namespace brek {
namespace {

const wchar_t* const kWindowClass = L"TBrekGSMDemoMainForm";
constexpr int kFirstButtonId = 100;

HWND Hwnd(void* h) { return static_cast<HWND>(h); }

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* w = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!w) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return static_cast<LRESULT>(w->Handle(hwnd, msg, wParam, lParam));
}

void RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, L"MAINICON", IMAGE_ICON, 32, 32, 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, L"MAINICON", IMAGE_ICON, 16, 16, 0));
  RegisterClassExW(&wc);
}

}  // namespace

Win32MainWindow::Win32MainWindow(MainWindowControls& controls, Win32Toolkit& toolkit)
    : controls_(controls), toolkit_(toolkit) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  hwnd_ = CreateWindowExW(0, kWindowClass, ToWide(controls.Caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
  background_ = LoadImageW(instance, L"BACKGROUND", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  font_ = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");

  // Buttons are made in tab order (the dialog keys follow the window order); they do not
  // overlap, so the drawing order is the same either way.
  int id = kFirstButtonId;
  for (TButton* b : controls.ButtonsInTabOrder()) {
    HWND w = CreateWindowExW(0, L"BUTTON", ToWide(b->Caption()).c_str(),
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, b->Bounds.left, b->Bounds.top,
                             b->Bounds.width, b->Bounds.height, Hwnd(hwnd_), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                             instance, nullptr);
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    auto refresh = [b, w] {
      SetWindowTextW(w, ToWide(b->Caption()).c_str());
      EnableWindow(w, b->Enabled());
    };
    refresh();
    b->OnChanged = refresh;
    buttons_.emplace_back(b, w);
    bound_.push_back(b);
  }
  auto bindLabel = [this](THTMLabel& l, int dy) {
    l.OnChanged = [this, &l, dy] {
      Rect r = l.Bounds;
      r.top += dy;
      InvalidateControl(r);
    };
    bound_.push_back(&l);
  };
  bindLabel(controls.ProgrammStateInfoLabel, 0);
  bindLabel(controls.UserActionInfoLabel, 0);
  for (THTMLabel* l : controls.PanelLabels()) bindLabel(*l, controls.SecurityCenterPanel.Bounds.top);
  controls.SecurityCenterPanel.OnChanged = [this] { InvalidateControl(controls_.SecurityCenterPanel.Bounds); };
  bound_.push_back(&controls.SecurityCenterPanel);
}

Win32MainWindow::~Win32MainWindow() {
  for (Control* c : bound_) c->OnChanged = nullptr;
  if (hwnd_ && IsWindow(Hwnd(hwnd_))) {
    SetWindowLongPtrW(Hwnd(hwnd_), GWLP_USERDATA, 0);
    DestroyWindow(Hwnd(hwnd_));
  }
  if (background_) DeleteObject(static_cast<HBITMAP>(background_));
  if (font_) DeleteObject(static_cast<HFONT>(font_));
}

void* Win32MainWindow::Button(const TButton& b) const {
  for (const auto& [control, w] : buttons_)
    if (control == &b) return w;
  return nullptr;
}

void Win32MainWindow::InvalidateControl(const Rect& r) {
  RECT rc{r.left, r.top, r.right(), r.bottom()};
  InvalidateRect(Hwnd(hwnd_), &rc, FALSE);
}

void Win32MainWindow::Paint(void* target) {
  HDC dc = static_cast<HDC>(target);
  // Drawn off screen first, so the labels do not flicker over the picture.
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP canvas = CreateCompatibleBitmap(dc, kClientWidth, kClientHeight);
  HGDIOBJ oldCanvas = SelectObject(mem, canvas);
  RECT all{0, 0, kClientWidth, kClientHeight};
  FillRect(mem, &all, GetSysColorBrush(COLOR_BTNFACE));
  if (background_) {
    HDC pic = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(pic, static_cast<HBITMAP>(background_));
    const Rect& b = controls_.BackgroundImage;
    BitBlt(mem, b.left, b.top, b.width, b.height, pic, 0, 0, SRCCOPY);
    SelectObject(pic, old);
    DeleteDC(pic);
  }
  const Rect& p = controls_.SecurityCenterPanel.Bounds;
  const Color c = controls_.SecurityCenterPanel.GetColor();
  HBRUSH panel = CreateSolidBrush(RGB(c.r, c.g, c.b));
  RECT pr{p.left, p.top, p.right(), p.bottom()};
  FillRect(mem, &pr, panel);
  DeleteObject(panel);

  const GdiFontMetrics metrics;
  auto paint = [&](const THTMLabel& l, int dx, int dy) {
    const MarkupLayout layout = LayoutMarkup(l.HTMLText(), l.Style, {0, 0, l.Bounds.width, l.Bounds.height}, metrics);
    GdiMarkupPainter painter(mem, dx + l.Bounds.left, dy + l.Bounds.top);
    PaintMarkup(layout, painter);
  };
  paint(controls_.ProgrammStateInfoLabel, 0, 0);
  paint(controls_.UserActionInfoLabel, 0, 0);
  for (THTMLabel* l : controls_.PanelLabels()) paint(*l, p.left, p.top);

  BitBlt(dc, 0, 0, kClientWidth, kClientHeight, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(mem);
}

std::intptr_t Win32MainWindow::Handle(void* window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!hwnd_) hwnd_ = window;  // messages arrive while CreateWindowExW is still running
  HWND hwnd = Hwnd(window);
  try {
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        Paint(dc);
        EndPaint(hwnd, &ps);
        return 0;
      }
      case WM_ERASEBKGND:
        return 1;  // all painted in WM_PAINT
      case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
          const int index = LOWORD(wParam) - kFirstButtonId;
          if (index >= 0 && index < static_cast<int>(buttons_.size())) {
            TButton* b = buttons_[static_cast<std::size_t>(index)].first;
            toolkit_.Dispatch([b] { b->Click(); });
          }
          return 0;
        }
        break;
      case WM_DEVICECHANGE:
        if (OnDeviceChange) toolkit_.Dispatch([&] { OnDeviceChange(wParam, lParam); });
        return TRUE;
      case WM_SHOWWINDOW:
        if (wParam) SetWindowTextW(hwnd, ToWide(controls_.Caption).c_str());
        break;
      case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        break;
    }
  } catch (const std::exception& e) {
    toolkit_.HandleException(e);
    return 0;
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace brek
