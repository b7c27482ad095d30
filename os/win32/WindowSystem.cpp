// The window system of the Windows build: user32 and the common controls.
#include "os/WindowSystem.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <exception>

#include "support/Exceptions.h"

namespace os {
namespace {

const wchar_t kApplicationClass[] = L"TApplication";
const wchar_t kFormClass[] = L"TForm";
const wchar_t kDialogClass[] = L"TMessageForm";
constexpr int kHelpButtonId = 0x7F00;

HWND H(Window window) { return static_cast<HWND>(window); }
LPCWSTR W(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

// What the program keeps with each window of its own classes.
struct WindowData {
  WindowHandler* handler = nullptr;
  HBRUSH brush = nullptr;
  COLORREF colour = 0;
  HFONT font = nullptr;
  std::vector<HFONT> childFonts;
};

// An exception raised by a handler is kept while it crosses the system's frames, and raised
// again when the dispatch or send that reached the handler returns.
thread_local std::exception_ptr pendingError;

void RaisePending() {
  if (pendingError) {
    std::exception_ptr error = pendingError;
    pendingError = nullptr;
    std::rethrow_exception(error);
  }
}

LRESULT CALLBACK ProgramWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!data) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_CTLCOLORSTATIC:
      if (data->brush) {
        SetBkColor(reinterpret_cast<HDC>(wParam), data->colour);
        return reinterpret_cast<LRESULT>(data->brush);
      }
      break;
    case WM_ERASEBKGND:
      if (data->brush) {
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, data->brush);
        return 1;
      }
      break;
    case WM_NCDESTROY: {
      const LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      if (data->brush) DeleteObject(data->brush);
      if (data->font) DeleteObject(data->font);
      for (HFONT f : data->childFonts) DeleteObject(f);
      delete data;
      return result;
    }
    default:
      break;
  }
  if (data->handler) {
    try {
      return data->handler->HandleMessage(hwnd, message, wParam, lParam);
    } catch (...) {
      // Raised again by RaisePending once the system's frames are left.
      pendingError = std::current_exception();
      return 0;
    }
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool RegisterProgramClass(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = name;
  return RegisterClassExW(&wc) != 0;
}

HFONT MakeFont(const FontSpec& font) {
  if (font.name.empty() && font.height == 0) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  return CreateFontW(font.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, font.name.empty() ? nullptr : W(font.name));
}

WindowData* DataOf(HWND hwnd) {
  return reinterpret_cast<WindowData*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_CLIPCHILDREN;

// ---- the modal dialog

struct DialogState {
  const DialogSpec* params;
  int result = 0;
  bool done = false;
};

thread_local std::vector<HWND> modalDialogs;
thread_local int messageBoxDepth = 0;

LRESULT CALLBACK DialogWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!state) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case DM_GETDEFID:
      return state->params->defaultResult ? MAKELRESULT(state->params->defaultResult, DC_HASDEFID) : 0;
    case WM_CLOSE:
      state->result = kDialogClosedResult;
      state->done = true;
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      int result = 0;
      // Escape arrives as IDCANCEL; a Cancel button has that id too.
      if (id == IDCANCEL) result = state->params->cancelResult;
      for (const DialogButton& b : state->params->buttons)
        if (b.result != 0 && b.result == id) result = b.result;
      if (result != 0) {
        state->result = result;
        state->done = true;
      }
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LPCWSTR IconName(DialogIcon icon) {
  switch (icon) {
    case DialogIcon::kWarning:
      return reinterpret_cast<LPCWSTR>(IDI_WARNING);
    case DialogIcon::kError:
      return reinterpret_cast<LPCWSTR>(IDI_ERROR);
    case DialogIcon::kInformation:
      return reinterpret_cast<LPCWSTR>(IDI_INFORMATION);
    case DialogIcon::kQuestion:
      return reinterpret_cast<LPCWSTR>(IDI_QUESTION);
    default:
      return nullptr;
  }
}

BOOL CALLBACK DisableWindow(HWND hwnd, LPARAM lParam) {
  auto* disabled = reinterpret_cast<std::vector<HWND>*>(lParam);
  if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    EnableWindow(hwnd, FALSE);
    disabled->push_back(hwnd);
  }
  return TRUE;
}

BOOL CALLBACK FindMessageBox(HWND hwnd, LPARAM lParam) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (IsWindowVisible(hwnd) && lstrcmpW(name, L"#32770") == 0) {
    *reinterpret_cast<HWND*>(lParam) = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

LResult DefaultWindowProc(Window window, unsigned message, WParam wParam, LParam lParam) {
  return DefWindowProcW(H(window), message, wParam, lParam);
}

bool PostWindowMessage(Window window, unsigned message, WParam wParam, LParam lParam) {
  return PostMessageW(H(window), message, wParam, lParam) != 0;
}

LResult SendWindowMessage(Window window, unsigned message, WParam wParam, LParam lParam) {
  const LRESULT result = SendMessageW(H(window), message, wParam, lParam);
  RaisePending();
  return result;
}

bool PeekWindowMessage(Message& message, bool remove) {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE)) return false;
  message = Message{msg.hwnd, msg.message, msg.wParam, msg.lParam};
  return true;
}

void WaitMessage() { ::WaitMessage(); }

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

void TranslateWindowMessage(const Message& message) {
  MSG msg{H(message.window), message.message, message.wParam, message.lParam, 0, {0, 0}};
  TranslateMessage(&msg);
}

LResult DispatchWindowMessage(const Message& message) {
  MSG msg{H(message.window), message.message, message.wParam, message.lParam, 0, {0, 0}};
  const LRESULT result = DispatchMessageW(&msg);
  RaisePending();
  return result;
}

Window CreateApplicationWindow(const std::u16string& title, WindowHandler* handler) {
  if (!RegisterProgramClass(kApplicationClass, ProgramWindowProc))
    throw Exception("Error creating window class");
  auto* data = new WindowData;
  data->handler = handler;
  HWND hwnd = CreateWindowExW(0, kApplicationClass, W(title),
                              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                              GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2,
                              0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), data);
  if (!hwnd) {
    delete data;
    throw Exception("Error creating window class");
  }
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
  DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
  DeleteMenu(menu, SC_MOVE, MF_BYCOMMAND);
  return hwnd;
}

Window CreateFormWindow(const FormSpec& params, WindowHandler* handler) {
  if (!RegisterProgramClass(kFormClass, ProgramWindowProc))
    throw Exception("Error creating window class");
  const DWORD exStyle = params.stayOnTop ? WS_EX_TOPMOST : 0;
  RECT r{0, 0, params.clientWidth, params.clientHeight};
  AdjustWindowRectEx(&r, kFormStyle, FALSE, exStyle);
  const int width = r.right - r.left, height = r.bottom - r.top;
  int left = CW_USEDEFAULT, top = CW_USEDEFAULT;
  if (params.centred) {
    left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  }
  auto* data = new WindowData;
  data->handler = handler;
  data->colour = params.colour;
  data->brush = CreateSolidBrush(params.colour);
  data->font = MakeFont(params.font);
  HWND hwnd = CreateWindowExW(exStyle, kFormClass, W(params.caption), kFormStyle, left, top, width,
                              height, H(params.owner), nullptr, GetModuleHandleW(nullptr), data);
  if (!hwnd) {
    DeleteObject(data->brush);
    DeleteObject(data->font);
    delete data;
    throw Exception("Error creating window class");
  }
  return hwnd;
}

void SetFormClientSize(Window form, int clientWidth, int clientHeight) {
  HWND hwnd = H(form);
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
  SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

Window CreateLabelWindow(Window parent, const LabelSpec& params) {
  // SS_LEFTNOWORDWRAP: one line, tabs expanded, clipped at the right edge; without SS_NOPREFIX
  // the control applies the ampersand rule.
  HWND hwnd = CreateWindowExW(0, L"STATIC", W(params.text), WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP,
                              params.left, params.top, params.width, params.height, H(parent), nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return nullptr;
  HFONT font = MakeFont(params.font);
  if (WindowData* data = DataOf(H(parent))) data->childFonts.push_back(font);
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}

void MeasureLabelText(const std::u16string& text, const FontSpec& font, int& width, int& height) {
  HDC dc = GetDC(nullptr);
  HFONT f = MakeFont(font);
  HGDIOBJ old = SelectObject(dc, f);
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, text.empty() ? L" " : W(text), -1, &r, DT_CALCRECT | DT_EXPANDTABS | DT_LEFT);
  SelectObject(dc, old);
  DeleteObject(f);
  ReleaseDC(nullptr, dc);
  width = text.empty() ? 0 : r.right - r.left;
  height = r.bottom - r.top;
}

bool RegisterProgressBarClass() {
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  return InitCommonControlsEx(&icc) != FALSE;
}

Window CreateProgressBarWindow(Window parent, int left, int top, int width, int height,
                               bool segmented) {
  return CreateWindowExW(0, PROGRESS_CLASSW, L"",
                         WS_CHILD | WS_VISIBLE | (segmented ? 0 : PBS_SMOOTH), left, top, width,
                         height, H(parent), nullptr, GetModuleHandleW(nullptr), nullptr);
}

void SetWindowCaption(Window window, const std::u16string& text) {
  SetWindowTextW(H(window), W(text));
}

std::u16string WindowCaption(Window window) {
  const int length = GetWindowTextLengthW(H(window));
  std::u16string text(static_cast<size_t>(length) + 1, u'\0');
  const int n = GetWindowTextW(H(window), reinterpret_cast<LPWSTR>(text.data()), length + 1);
  text.resize(static_cast<size_t>(std::max(n, 0)));
  return text;
}

void SetWindowBounds(Window window, int left, int top, int width, int height) {
  MoveWindow(H(window), left, top, width, height, TRUE);
}

void ShowWindow(Window window, bool visible) {
  ::ShowWindow(H(window), visible ? SW_SHOWNORMAL : SW_HIDE);
  if (visible) UpdateWindow(H(window));
}

bool IsWindowVisible(Window window) { return ::IsWindowVisible(H(window)) != FALSE; }

void InvalidateWindow(Window window) { InvalidateRect(H(window), nullptr, TRUE); }

bool WindowExists(Window window) { return window && IsWindow(H(window)); }

void DestroyWindow(Window window) { ::DestroyWindow(H(window)); }

void ShowErrorBox(Window owner, const std::u16string& text, const std::u16string& caption) {
  ++messageBoxDepth;
  MessageBoxW(H(owner), W(text), W(caption), MB_OK | MB_ICONERROR);
  --messageBoxDepth;
}

int ShowModalDialog(const DialogSpec& params) {
  if (!RegisterProgramClass(kDialogClass, DialogWindowProc))
    throw Exception("Error creating window class");
  DialogState state{&params};
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);

  // Layout: icon, then the text word-wrapped at half the screen width, buttons centred below.
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT text{0, 0, screenWidth / 2, 0};
  DrawTextW(dc, params.text.empty() ? L" " : W(params.text), -1, &text,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  const bool hasIcon = params.icon != DialogIcon::kNone;
  const int margin = 12, iconSize = 32, buttonWidth = 75, buttonHeight = 25, gap = 6;
  const int textLeft = margin + (hasIcon ? iconSize + margin : 0);
  const int buttonsWidth = static_cast<int>(params.buttons.size()) * (buttonWidth + gap) - gap;
  const int clientWidth =
      std::max(textLeft + static_cast<int>(text.right) + margin, buttonsWidth + 2 * margin);
  const int bodyHeight = std::max(static_cast<int>(text.bottom), hasIcon ? iconSize : 0);
  const int buttonTop = margin + bodyHeight + margin;
  const int clientHeight = buttonTop + buttonHeight + margin;
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;

  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), DisableWindow, reinterpret_cast<LPARAM>(&disabled));
  HWND dialog = CreateWindowExW(exStyle, kDialogClass, W(params.caption), style,
                                (screenWidth - width) / 2, (screenHeight - height) / 2, width,
                                height, nullptr, nullptr, GetModuleHandleW(nullptr), &state);
  if (!dialog) {
    for (HWND w : disabled) EnableWindow(w, TRUE);
    DeleteObject(font);
    throw Exception("Error creating window class");
  }
  if (hasIcon) {
    HWND icon = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, margin,
                                margin, iconSize, iconSize, dialog, nullptr, nullptr, nullptr);
    SendMessageW(icon, STM_SETICON,
                 reinterpret_cast<WPARAM>(LoadIconW(nullptr, IconName(params.icon))), 0);
  }
  HWND label =
      CreateWindowExW(0, L"STATIC", W(params.text), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, textLeft,
                      margin, text.right, text.bottom, dialog, nullptr, nullptr, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  int left = (clientWidth - buttonsWidth) / 2;
  HWND focus = nullptr;
  for (const DialogButton& b : params.buttons) {
    const bool isDefault = b.result != 0 && b.result == params.defaultResult;
    const int id = b.result != 0 ? b.result : kHelpButtonId;
    HWND button = CreateWindowExW(
        0, L"BUTTON", W(b.caption),
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), left,
        buttonTop, buttonWidth, buttonHeight, dialog, reinterpret_cast<HMENU>(INT_PTR{id}), nullptr,
        nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (isDefault || !focus) focus = button;
    left += buttonWidth + gap;
  }
  modalDialogs.push_back(dialog);
  ShowWindow(dialog, SW_SHOWNORMAL);
  if (focus) SetFocus(focus);

  // The modal loop: it dispatches every posted message of the thread, so main-thread calls are
  // served while the dialog is open.
  std::exception_ptr error;
  while (!state.done) {
    MSG msg;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The quit belongs to the outer loop.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      state.result = kDialogClosedResult;
      break;
    }
    if (got < 0) break;
    if (IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    if (pendingError && !error) error = pendingError;
    pendingError = nullptr;
  }
  modalDialogs.pop_back();
  for (HWND w : disabled) EnableWindow(w, TRUE);
  ::DestroyWindow(dialog);
  DeleteObject(font);
  if (error) std::rethrow_exception(error);
  return state.result;
}

Window ActiveModalWindow() {
  if (messageBoxDepth > 0) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (box) return box;
  }
  return modalDialogs.empty() ? nullptr : modalDialogs.back();
}

void RouteCloseSignalsTo(Window) {}

}  // namespace os
