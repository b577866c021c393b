#include "ui/win32/MainWindow.h"

#include "ui/win32/GdiMarkup.h"

#include <algorithm>

#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

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

const wchar_t* Win32MainWindow::ClassName() { return kWindowClass; }

unsigned Win32MainWindow::ActivationMessage() {
  static const UINT message = RegisterWindowMessageW(L"BrekGSMDemo-Activate");
  return message;
}

Win32MainWindow::Win32MainWindow(MainWindowControls& controls, Win32Toolkit& toolkit)
    : controls_(controls), toolkit_(toolkit) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance);
  // The taskbar's progress is a COM object; Explorer says when the button is there.
  comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  taskbarButtonCreated_ = RegisterWindowMessageW(L"TaskbarButtonCreated");
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  hwnd_ = CreateWindowExW(0, kWindowClass, ToWide(controls.Caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
  // Explorer runs with less rights than an elevated program, whose window then filters its notice out.
  if (taskbarButtonCreated_) ChangeWindowMessageFilterEx(Hwnd(hwnd_), taskbarButtonCreated_, MSGFLT_ALLOW, nullptr);
  background_ = LoadImageW(instance, L"BACKGROUND", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  font_ = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");

  // The window order is the order read: the state and the hint, the buttons, the panel.
  BindLabel(controls.ProgrammStateInfoLabel, 0);
  BindLabel(controls.UserActionInfoLabel, 0);
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
  controls.SecurityCenterPanel.OnChanged = [this] { InvalidateControl(controls_.SecurityCenterPanel.Bounds); };
  bound_.push_back(&controls.SecurityCenterPanel);

  // Over the action hint, hidden until a script has been going a while; not a tab stop.
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  const Rect& pb = controls.ScriptProgressBar.Bounds;
  // Read as the state whose progress it shows (the bar draws no text).
  progress_ = CreateWindowExW(0, PROGRESS_CLASSW, labels_.front().text.c_str(), WS_CHILD, pb.left, pb.top, pb.width,
                              pb.height, Hwnd(hwnd_), nullptr, instance, nullptr);
  controls.ScriptProgressBar.OnChanged = [this] { ShowProgress(); };
  bound_.push_back(&controls.ScriptProgressBar);
  for (THTMLabel* l : controls.PanelLabels()) BindLabel(*l, controls.SecurityCenterPanel.Bounds.top);
}

void Win32MainWindow::BindLabel(THTMLabel& l, int dy) {
  const Rect r{l.Bounds.left, l.Bounds.top + dy, l.Bounds.width, l.Bounds.height};
  // Not a tab stop, and without SS_NOTIFY the mouse goes through to the window.
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_OWNERDRAW, r.left, r.top, r.width, r.height,
                           Hwnd(hwnd_), nullptr, GetModuleHandleW(nullptr), nullptr);
  const std::size_t index = labels_.size();
  labels_.push_back({&l, w, r, {}});
  l.OnChanged = [this, index] {
    InvalidateControl(labels_[index].bounds);
    ShowLabelText(labels_[index]);
  };
  ShowLabelText(labels_[index]);
  bound_.push_back(&l);
}

void Win32MainWindow::ShowLabelText(LabelWindow& w) {
  std::wstring text = ToWide(MarkupPlainText(w.label->HTMLText()));
  if (text == w.text) return;  // the controller sets every label on each state change
  w.text = std::move(text);
  HWND h = Hwnd(w.hwnd);
  // The proxy reads a static's "&&" as "&" and drops a lone "&" as a mnemonic's marker.
  std::wstring shown;
  for (wchar_t c : w.text) shown.append(c == L'&' ? 2 : 1, c);
  SetWindowTextW(h, shown.c_str());
  if (w.label == &controls_.ProgrammStateInfoLabel && progress_) SetWindowTextW(Hwnd(progress_), w.text.c_str());
  // An empty label has nothing to read; hidden, it never covers the progress bar over the hint.
  ShowWindow(h, w.text.empty() ? SW_HIDE : SW_SHOWNA);
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, h, OBJID_CLIENT, CHILDID_SELF);
}

void* Win32MainWindow::Label(const THTMLabel& l) const {
  for (const LabelWindow& w : labels_)
    if (w.label == &l) return w.hwnd;
  return nullptr;
}

Win32MainWindow::~Win32MainWindow() {
  for (Control* c : bound_) c->OnChanged = nullptr;
  if (hwnd_ && IsWindow(Hwnd(hwnd_))) {
    SetWindowLongPtrW(Hwnd(hwnd_), GWLP_USERDATA, 0);
    DestroyWindow(Hwnd(hwnd_));
  }
  if (background_) DeleteObject(static_cast<HBITMAP>(background_));
  if (font_) DeleteObject(static_cast<HFONT>(font_));
  if (canvas_) DeleteObject(static_cast<HBITMAP>(canvas_));
  if (taskbar_) static_cast<ITaskbarList3*>(taskbar_)->Release();
  if (comInitialized_) CoUninitialize();
}

void Win32MainWindow::ShowProgress() {
  const TProgressBar& p = controls_.ScriptProgressBar;
  HWND bar = Hwnd(progress_);
  const int max = std::max(1, p.Max());
  const WPARAM state = p.GetMode() == TProgressBar::Mode::Paused  ? PBST_PAUSED
                       : p.GetMode() == TProgressBar::Mode::Error ? PBST_ERROR
                                                                  : PBST_NORMAL;
  // A paused or failed bar does not move: normal for the new position, then its state.
  SendMessageW(bar, PBM_SETSTATE, PBST_NORMAL, 0);
  SendMessageW(bar, PBM_SETRANGE32, 0, max);
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::clamp(p.Position(), 0, max)), 0);
  SendMessageW(bar, PBM_SETSTATE, state, 0);
  ShowWindow(bar, p.Visible() ? SW_SHOWNA : SW_HIDE);
  ShowTaskbarProgress();
}

void Win32MainWindow::ShowTaskbarProgress() {
  if (!taskbar_) return;
  auto* taskbar = static_cast<ITaskbarList3*>(taskbar_);
  const TProgressBar& p = controls_.ScriptProgressBar;
  HWND w = Hwnd(hwnd_);
  // A dropped script's failure stays on the button for its moment, the window's bar gone.
  if (!p.Visible() && p.GetMode() != TProgressBar::Mode::Error) {
    taskbarState_ = TBPF_NOPROGRESS;
    taskbarResult_ = taskbar->SetProgressState(w, TBPF_NOPROGRESS);
    return;
  }
  const int max = std::max(1, p.Max());
  // A value turns a cleared button to normal; the state after it, so paused and error stay.
  HRESULT hr = taskbar->SetProgressValue(w, static_cast<ULONGLONG>(std::clamp(p.Position(), 0, max)),
                                         static_cast<ULONGLONG>(max));
  const TBPFLAG state = p.GetMode() == TProgressBar::Mode::Paused  ? TBPF_PAUSED
                        : p.GetMode() == TProgressBar::Mode::Error ? TBPF_ERROR
                                                                   : TBPF_NORMAL;
  if (SUCCEEDED(hr)) hr = taskbar->SetProgressState(w, state);
  taskbarState_ = state;
  taskbarResult_ = hr;
}

void Win32MainWindow::OnTaskbarButtonCreated() {
  // Sent again when Explorer restarts: the new button gets where the script is.
  if (!taskbar_) {
    ITaskbarList3* taskbar = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                  reinterpret_cast<void**>(&taskbar));
    if (SUCCEEDED(hr)) hr = taskbar->HrInit();
    if (FAILED(hr)) {
      if (taskbar) taskbar->Release();
      taskbarResult_ = hr;
      return;
    }
    taskbar_ = taskbar;
  }
  ShowTaskbarProgress();
}

void* Win32MainWindow::Button(const TButton& b) const {
  for (const auto& [control, w] : buttons_)
    if (control == &b) return w;
  return nullptr;
}

void Win32MainWindow::InvalidateControl(const Rect& r) {
  composed_ = false;
  RECT rc{r.left, r.top, r.right(), r.bottom()};
  // The labels' windows under it show the picture too.
  RedrawWindow(Hwnd(hwnd_), &rc, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void Win32MainWindow::Paint(void* target, int left, int top, int width, int height) {
  HDC dc = static_cast<HDC>(target);
  if (!composed_) Compose(dc);
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, static_cast<HBITMAP>(canvas_));
  BitBlt(dc, 0, 0, width, height, mem, left, top, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
}

void Win32MainWindow::Compose(void* target) {
  HDC dc = static_cast<HDC>(target);
  // Drawn off screen, so the labels do not flicker over the picture.
  if (!canvas_) canvas_ = CreateCompatibleBitmap(dc, kClientWidth, kClientHeight);
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ oldCanvas = SelectObject(mem, static_cast<HBITMAP>(canvas_));
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

  SelectObject(mem, oldCanvas);
  DeleteDC(mem);
  composed_ = true;
}

std::intptr_t Win32MainWindow::Handle(void* window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!hwnd_) hwnd_ = window;  // messages arrive while CreateWindowExW is still running
  HWND hwnd = Hwnd(window);
  try {
    if (msg == taskbarButtonCreated_ && msg != 0) {
      OnTaskbarButtonCreated();
      return 0;
    }
    if (msg == ActivationMessage() && msg != 0) return kActivationAnswer;  // this window's loop runs
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        Paint(dc, 0, 0, kClientWidth, kClientHeight);
        EndPaint(hwnd, &ps);
        return 0;
      }
      case WM_DRAWITEM: {  // a label's window: its part of the picture
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_STATIC) break;
        POINT at{0, 0};
        MapWindowPoints(item->hwndItem, hwnd, &at, 1);
        Paint(item->hDC, at.x, at.y, item->rcItem.right - item->rcItem.left, item->rcItem.bottom - item->rcItem.top);
        return TRUE;
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
        // The window goes with the process, after the bounded teardown: Wine's DestroyWindow
        // without a window manager waits 2 s for the unmapping to be confirmed.
        toolkit_.EndLoop(0);
        return 0;
      case WM_DESTROY:
        toolkit_.EndLoop(0);
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
