#include "app/platform/Controls.h"

#include <algorithm>

#include "app/platform/Application.h"
#include "os/CodePage.h"
#include "support/Exceptions.h"

namespace {

constexpr int kMaxSixteenBit = 65535;

void CheckSixteenBit(int value) {
  if (value < 0 || value > kMaxSixteenBit)
    throw EInvalidOperation(FormatMessageText("Value must be between %d and %d",
                                              {"0", std::to_string(kMaxSixteenBit)}));
}

os::FontSpec FontSpecOf(const TFont& font) { return os::FontSpec{font.Name, font.Height}; }

}  // namespace

// ---- TControl

TControl::TControl(TForm* owner) : FOwner(owner) {
  FFont = owner->Font();
  owner->FControls.emplace_back(this);
}

TControl::~TControl() { DestroyHandle(); }

void TControl::SetBounds(int left, int top, int width, int height) {
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  BoundsChanged();
  if (os::Window handle = Handle()) os::SetWindowBounds(handle, left, top, width, height);
}

void TControl::SetFont(const TFont& font) { FFont = font; }

void TControl::DestroyHandle() {
  // The owner's window destroys its children; here the handle is only forgotten.
  FHandle.store(nullptr);
}

// ---- TLabel

TLabel::TLabel(TForm* owner) : TControl(owner) {}

void TLabel::SetCaption(const AnsiString& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  if (FAutoSize) AdjustSize();
  if (os::Window handle = Handle()) os::SetWindowCaption(handle, os::AnsiToWide(FCaption));
}

void TLabel::SetAutoSize(bool autoSize) {
  FAutoSize = autoSize;
  if (FAutoSize) AdjustSize();
}

void TLabel::SetColor(std::uint32_t colour) {
  FColour = colour;
  FColourSet = true;
}

void TLabel::AdjustSize() {
  int width = 0, height = 0;
  os::MeasureLabelText(os::AnsiToWide(FCaption), FontSpecOf(FFont), width, height);
  SetBounds(FLeft, FTop, width, height);
}

void TLabel::CreateHandle(os::Window parent) {
  os::LabelSpec params;
  params.text = os::AnsiToWide(FCaption);
  params.left = FLeft;
  params.top = FTop;
  params.width = FWidth;
  params.height = FHeight;
  params.font = FontSpecOf(FFont);
  params.colour = FColourSet ? FColour : FOwner->Color();
  FHandle.store(os::CreateLabelWindow(parent, params));
}

// ---- TProgressBar

TProgressBar::TProgressBar(TForm* owner) : TControl(owner), F32Bit(os::RegisterProgressBarClass()) {
  FWidth = 150;
  FHeight = 16;
}

void TProgressBar::SetParams(int newMin, int newMax) {
  if (newMax < newMin)
    throw EInvalidOperation(FormatMessageText("%s property out of range", {"TProgressBar"}));
  if (!F32Bit) {
    CheckSixteenBit(newMin);
    CheckSixteenBit(newMax);
  }
  const int oldMin = FMin.load();
  if (oldMin == newMin && FMax.load() == newMax) return;
  if (os::Window handle = Handle()) {
    if (F32Bit) {
      os::SendWindowMessage(handle, os::kPbmSetRange32, static_cast<os::WParam>(newMin), newMax);
    } else {
      os::SendWindowMessage(
          handle, os::kPbmSetRange, 0,
          static_cast<os::LParam>(newMin) | (static_cast<os::LParam>(newMax) << 16));
    }
    if (newMin < oldMin)
      os::SendWindowMessage(handle, os::kPbmSetPos, static_cast<os::WParam>(newMin), 0);
  }
  FMin.store(newMin);
  FMax.store(newMax);
}

void TProgressBar::SetMin(int value) { SetParams(value, FMax.load()); }

void TProgressBar::SetMax(int value) { SetParams(FMin.load(), value); }

void TProgressBar::SetPosition(int value) {
  if (!F32Bit) CheckSixteenBit(value);
  if (os::Window handle = Handle())
    os::SendWindowMessage(handle, os::kPbmSetPos, static_cast<os::WParam>(value), 0);
  // Kept also while the window exists, so the bar keeps its value when the window goes.
  FPosition.store(value);
}

void TProgressBar::CreateHandle(os::Window parent) {
  os::Window handle = os::CreateProgressBarWindow(parent, FLeft, FTop, FWidth, FHeight, true);
  const int min = FMin.load(), max = FMax.load();
  if (F32Bit) {
    os::SendWindowMessage(handle, os::kPbmSetRange32, static_cast<os::WParam>(min), max);
  } else {
    os::SendWindowMessage(handle, os::kPbmSetRange, 0,
                          static_cast<os::LParam>(min) | (static_cast<os::LParam>(max) << 16));
  }
  os::SendWindowMessage(handle, os::kPbmSetStep, 10, 0);
  os::SendWindowMessage(handle, os::kPbmSetPos, static_cast<os::WParam>(FPosition.load()), 0);
  FHandle.store(handle);
}

// ---- TForm

TForm::TForm() { Application().AddForm(this); }

TForm::~TForm() {
  DestroyHandle();
  Application().RemoveForm(this);
}

void TForm::FormCreate() {
  if (OnCreate) OnCreate();
}

void TForm::AfterConstruction() {
  try {
    FormCreate();
  } catch (const std::exception& e) {
    // The handler's failure is reported; the form counts as constructed.
    Application().ReportException(e);
  }
}

void TForm::SetCaption(const AnsiString& caption) {
  FCaption = caption;
  if (FHandle) os::SetWindowCaption(FHandle, os::AnsiToWide(caption));
}

void TForm::SetClientSize(int width, int height) {
  FClientWidth = width;
  FClientHeight = height;
  if (FHandle) os::SetFormClientSize(FHandle, width, height);
}

void TForm::HandleNeeded() {
  if (FHandle) return;
  os::FormSpec params;
  params.caption = os::AnsiToWide(FCaption);
  params.clientWidth = FClientWidth;
  params.clientHeight = FClientHeight;
  params.stayOnTop = FStayOnTop;
  params.centred = FCentred;
  params.colour = FColour;
  params.font = FontSpecOf(FFont);
  params.owner = Application().Handle();
  FHandle = os::CreateFormWindow(params, this);
  for (auto& control : FControls) control->CreateHandle(FHandle);
}

void TForm::DestroyHandle() {
  if (!FHandle) return;
  for (auto& control : FControls) control->DestroyHandle();
  os::Window handle = FHandle;
  FHandle = nullptr;
  os::DestroyWindow(handle);
}

void TForm::Show() {
  HandleNeeded();
  os::ShowWindow(FHandle, true);
}

void TForm::Hide() {
  if (FHandle) os::ShowWindow(FHandle, false);
}

bool TForm::Visible() const { return FHandle && os::IsWindowVisible(FHandle); }

void TForm::RequestClose() {
  // No close-query or close handler is installed: the main form ends the application, any
  // other form is hidden.
  if (Application().MainForm() == this)
    Application().RequestQuit();
  else
    Hide();
}

os::LResult TForm::HandleMessage(os::Window window, unsigned message, os::WParam wParam,
                                 os::LParam lParam) {
  switch (message) {
    case os::kWmClose:
      RequestClose();
      return 0;
    case os::kWmDestroy:
      if (FHandle == window) {
        for (auto& control : FControls) control->DestroyHandle();
        FHandle = nullptr;
      }
      return 0;
    default:
      return os::DefaultWindowProc(window, message, wParam, lParam);
  }
}

// ---- the message dialog

os::DialogSpec MessageDialogSpec(const AnsiString& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  struct Kind {
    TMsgDlgBtn button;
    const char16_t* caption;
    int result;
  };
  // The fixed order of the buttons, left to right.
  static const Kind kinds[] = {{mbYes, u"&Yes", mrYes},
                               {mbNo, u"&No", mrNo},
                               {mbOK, u"OK", mrOk},
                               {mbCancel, u"Cancel", mrCancel},
                               {mbAbort, u"&Abort", mrAbort},
                               {mbRetry, u"&Retry", mrRetry},
                               {mbIgnore, u"&Ignore", mrIgnore},
                               {mbAll, u"&All", mrAll},
                               {mbNoToAll, u"N&o to All", mrNoToAll},
                               {mbYesToAll, u"Yes to &All", mrYesToAll},
                               {mbHelp, u"&Help", mrNone}};
  os::DialogSpec params;
  switch (type) {
    case mtWarning:
      params.caption = u"Warning";
      params.icon = os::DialogIcon::kWarning;
      break;
    case mtError:
      params.caption = u"Error";
      params.icon = os::DialogIcon::kError;
      break;
    case mtInformation:
      params.caption = u"Information";
      params.icon = os::DialogIcon::kInformation;
      break;
    case mtConfirmation:
      params.caption = u"Confirm";
      params.icon = os::DialogIcon::kQuestion;
      break;
    case mtCustom:
      params.caption = os::AnsiToWide(Application().Title());
      break;
  }
  params.text = os::AnsiToWide(text);
  for (const Kind& kind : kinds)
    if (buttons.Contains(kind.button)) params.buttons.push_back({kind.caption, kind.result});
  if (buttons.Contains(mbOK))
    params.defaultResult = mrOk;
  else if (buttons.Contains(mbYes))
    params.defaultResult = mrYes;
  else if (buttons.Contains(mbRetry))
    params.defaultResult = mrRetry;
  if (buttons.Contains(mbCancel))
    params.cancelResult = mrCancel;
  else if (buttons.Contains(mbNo))
    params.cancelResult = mrNo;
  else if (buttons.Contains(mbOK))
    params.cancelResult = mrOk;
  return params;
}

int ShowMessageDialog(const AnsiString& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  return os::ShowModalDialog(MessageDialogSpec(text, type, buttons));
}
