// Forms, the progress bar's rules, the label, the message dialog and the exception report.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/platform/Application.h"
#include "app/platform/Controls.h"
#include "support/Exceptions.h"
#include "tests/support/PlatformTestSupport.h"
#ifdef _WIN32
#include "tests/support/PlatformScreenshot.h"
#else
#include "os/posix/WindowRender.h"
#endif

namespace {

enum class Op { kMin, kMax, kPosition };

void Apply(TProgressBar& bar, Op op, int value) {
  switch (op) {
    case Op::kMin:
      bar.SetMin(value);
      break;
    case Op::kMax:
      bar.SetMax(value);
      break;
    case Op::kPosition:
      bar.SetPosition(value);
      break;
  }
}

}  // namespace

TEST(TProgressBar, RangeAndPositionRules) {
  struct Case {
    bool thirtyTwoBit;
    Op op;
    int value;
    const char* error;  // nullptr: accepted
  };
  const char* outOfRange = "TProgressBar property out of range";
  const char* sixteenBit = "Value must be between 0 and 65535";
  const Case cases[] = {
      {true, Op::kMax, -1, outOfRange},       {true, Op::kMin, 101, outOfRange},
      {true, Op::kMax, 70000, nullptr},       {true, Op::kPosition, 70000, nullptr},
      {true, Op::kMin, 100, nullptr},         {true, Op::kPosition, -5, nullptr},
      {false, Op::kMax, 70000, sixteenBit},   {false, Op::kMax, 65535, nullptr},
      {false, Op::kPosition, -1, sixteenBit}, {false, Op::kPosition, 65536, sixteenBit},
      {false, Op::kMax, -1, outOfRange},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    TForm form;
    auto* bar = new TProgressBar(&form);
    bar->SetThirtyTwoBitForTesting(c.thirtyTwoBit);
    form.HandleNeeded();
    std::string error;
    try {
      Apply(*bar, c.op, c.value);
    } catch (const EInvalidOperation& e) {
      error = e.Message();
    }
    EXPECT_EQ(error, c.error ? c.error : "") << "case " << i;
    if (c.error) {
      EXPECT_EQ(bar->Min(), 0) << "case " << i;
      EXPECT_EQ(bar->Max(), 100) << "case " << i;
      EXPECT_EQ(bar->Position(), 0) << "case " << i;
    }
  }
}

TEST(TProgressBar, WindowTakesStoredValuesAndShowsBeyondMaxAsFull) {
  TForm form;
  auto* bar = new TProgressBar(&form);
  EXPECT_TRUE(bar->ThirtyTwoBit());
  bar->SetMax(300000);
  bar->SetPosition(150000);
  form.HandleNeeded();
  EXPECT_EQ(os::SendWindowMessage(bar->Handle(), os::kPbmGetRange, 0, 0), 300000);
  EXPECT_EQ(os::SendWindowMessage(bar->Handle(), os::kPbmGetPos, 0, 0), 150000);
  bar->SetPosition(400000);
  EXPECT_EQ(os::SendWindowMessage(bar->Handle(), os::kPbmGetPos, 0, 0), 300000);
}

TEST(TProgressBar, SixteenBitRangeAndLoweredMinimumMovesPosition) {
  TForm form;
  auto* bar = new TProgressBar(&form);
  bar->SetThirtyTwoBitForTesting(false);
  form.HandleNeeded();
  bar->SetMax(1000);
  bar->SetMin(20);
  EXPECT_EQ(os::SendWindowMessage(bar->Handle(), os::kPbmGetRange, 1, 0), 20);
  EXPECT_EQ(os::SendWindowMessage(bar->Handle(), os::kPbmGetRange, 0, 0), 1000);
  bar->SetPosition(50);
  bar->SetMin(5);
  EXPECT_EQ(os::SendWindowMessage(bar->Handle(), os::kPbmGetPos, 0, 0), 5);
}

TEST(TLabel, AutoSizeFollowsCaptionUnlessOff) {
  TForm form;
  auto* sized = new TLabel(&form);
  auto* fixed = new TLabel(&form);
  fixed->SetAutoSize(false);
  fixed->SetBounds(8, 8, 200, 17);
  form.HandleNeeded();
  sized->SetCaption("Checking for updates");
  fixed->SetCaption("Checking for updates, a much longer status text than fits");
  EXPECT_GT(sized->Width(), 0);
  EXPECT_EQ(fixed->Width(), 200);
  EXPECT_EQ(fixed->Height(), 17);
  EXPECT_EQ(os::WindowCaption(fixed->Handle()),
            u"Checking for updates, a much longer status text than fits");
}

TEST(TApplication, ReportedTextFullStopRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"Download failed", "Download failed."},
      {"Done.", "Done."},
      {"Stop!", "Stop!"},
      {"", ""},
      {"code 12029", "code 12029."},
      {"(see log)", "(see log)"},
      {"\xCE\xC4\xBC\xFE", "\xCE\xC4\xBC\xFE."},
  };
  for (const auto& [message, shown] : cases)
    EXPECT_EQ(TApplication::ReportedText(message), shown) << message;
}

TEST(TApplication, TitleIsProgramTitle) { EXPECT_EQ(Application().Title(), "platform_tests"); }

namespace {
class TProbeForm;
TProbeForm* probeForm = nullptr;
bool referenceSetBeforeConstruction = false;

class TProbeForm : public TForm {
 public:
  TProbeForm() {
    referenceSetBeforeConstruction = probeForm == this;
    Label = new TLabel(this);
  }
  void FormCreate() override { throw Exception("Thread creation error: none left"); }
  TLabel* Label;
};
}  // namespace

TEST(TApplication, CreateAppFormSetsReferenceFirstAndReportsCreateFailure) {
  std::vector<std::string> reported;
  Application().OnException = [&](const std::exception& e) { reported.push_back(e.what()); };
  Application().CreateAppForm(probeForm);
  Application().OnException = nullptr;
  ASSERT_NE(probeForm, nullptr);
  EXPECT_TRUE(referenceSetBeforeConstruction);
  EXPECT_EQ(reported, std::vector<std::string>{"Thread creation error: none left"});
  EXPECT_EQ(Application().MainForm(), probeForm);
  EXPECT_NE(probeForm->Handle(), nullptr);
  EXPECT_NE(probeForm->Label->Handle(), nullptr);
}

TEST(MessageDialogSpec, ButtonOrderDefaultAndCancel) {
  struct Case {
    TMsgDlgButtons buttons;
    std::u16string captions;
    int defaultResult;
    int cancelResult;
  };
  const Case cases[] = {
      {{mbCancel, mbOK}, u"OK|Cancel|", mrOk, mrCancel},
      {{mbNo, mbYes}, u"&Yes|&No|", mrYes, mrNo},
      {{mbIgnore, mbRetry, mbAbort}, u"&Abort|&Retry|&Ignore|", mrRetry, mrNone},
      {{mbOK}, u"OK|", mrOk, mrOk},
      {{mbHelp, mbYesToAll, mbNoToAll, mbAll, mbYes, mbNo, mbCancel},
       u"&Yes|&No|Cancel|&All|N&o to All|Yes to &All|&Help|",
       mrYes,
       mrCancel},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const os::DialogSpec params = MessageDialogSpec("text", mtWarning, cases[i].buttons);
    std::u16string captions;
    for (const os::DialogButton& b : params.buttons) captions += b.caption + u"|";
    EXPECT_EQ(captions, cases[i].captions) << "case " << i;
    EXPECT_EQ(params.defaultResult, cases[i].defaultResult) << "case " << i;
    EXPECT_EQ(params.cancelResult, cases[i].cancelResult) << "case " << i;
  }
  const std::pair<TMsgDlgType, std::u16string> captions[] = {{mtWarning, u"Warning"},
                                                             {mtError, u"Error"},
                                                             {mtInformation, u"Information"},
                                                             {mtConfirmation, u"Confirm"},
                                                             {mtCustom, u"platform_tests"}};
  for (const auto& [type, caption] : captions)
    EXPECT_EQ(MessageDialogSpec("t", type, {mbOK}).caption, caption) << type;
  EXPECT_EQ(MessageDialogSpec("t", mtConfirmation, {mbOK}).icon, os::DialogIcon::kQuestion);
}

// The dialog's result for what its user does, driven by a main-thread call made while it is open.
TEST(ShowMessageDialog, ReturnsPressedButtonOrCancelWhenClosed) {
  struct Case {
    unsigned message;
    os::WParam wParam;
    int expected;
  };
  const Case cases[] = {
      {os::kWmClose, 0, mrCancel},
      {os::kWmCommand, mrOk, mrOk},
      {os::kWmCommand, mrCancel, mrCancel},
#ifndef _WIN32
      {os::kWmKeyDown, os::kVkEscape, mrCancel},
      {os::kWmKeyDown, os::kVkReturn, mrOk},
#endif
  };
  for (const Case& c : cases) {
    auto* worker = NewThread<TTestThread>(false, [&] {
      CallInMainThread(
          [&] { os::PostWindowMessage(os::ActiveModalWindow(), c.message, c.wParam, 0); });
    });
    EXPECT_EQ(ShowMessageDialog("Stop the download?", mtConfirmation, {mbOK, mbCancel}), c.expected)
        << "message " << c.message << " " << c.wParam;
    EXPECT_TRUE(worker->WaitFor(10000));
    delete worker;
  }
}

#ifndef _WIN32
TEST(TerminalRenderer, LabelLineFollowsAmpersandRuleAndIsCutAtRightEdge) {
  struct Case {
    std::u16string text;
    int width;
    std::string line;
  };
  const Case cases[] = {
      {u"A&B", 200, "AB"},
      {u"Tom && Jerry", 200, "Tom & Jerry"},
      {u"Downloading Taktak.exe", 80, "Downloadin"},
      {u"\u6B63\u5728\u4E0B\u8F7D", 56, "\u6B63\u5728\u4E0B"},
      {u"two\nlines", 200, "two"},
  };
  for (const Case& c : cases) {
    std::vector<os::RenderedWindow> windows = {
        {os::WindowKind::kForm, 1, 0, true, u"Update", 300, 0, 0, 0, {}},
        {os::WindowKind::kLabel, 2, 1, true, c.text, c.width, 0, 0, 0, {}},
        {os::WindowKind::kProgressBar, 3, 1, true, u"", 96, 0, 200000, 100000, {}},
    };
    const std::vector<std::string> lines = os::TerminalRenderer::Lines(windows);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "== Update ==");
    EXPECT_EQ(lines[1], c.line) << c.width;
    EXPECT_EQ(lines[2], "[#####.....]") << "half of a 200000 range";
  }
}
#else
TEST(Screenshot, ChineseLabelAndHalfFullBarAreDrawn) {
  TForm form;
  form.SetCaption("\xC9\xFD\xBC\xB6");  // "upgrade" in code page 936
  form.SetClientSize(320, 70);
  form.SetStayOnTop(true);
  form.SetScreenCentred(true);
  auto* label = new TLabel(&form);
  label->SetAutoSize(false);
  label->SetBounds(10, 10, 300, 20);
  label->SetFont(TFont{u"WenQuanYi Zen Hei", 16});
  // "正在下载 A&B" in code page 936: the ampersand underlines the B.
  label->SetCaption("\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8 A&B");
  auto* bar = new TProgressBar(&form);
  bar->SetBounds(10, 40, 300, 18);
  bar->SetPosition(50);
  form.Show();
  Application().PumpMessages();
  const std::filesystem::path file = HelperProgram("platform_screenshot").replace_extension(".bmp");
  const ScreenshotStats stats = CaptureWindowToBmp(form.Handle(), file);
  ASSERT_TRUE(stats.captured) << file;
  EXPECT_GE(stats.distinctColours, 3) << file;
  // Label text: dark pixels inside the label's area.
  EXPECT_GT(stats.Differing(10, 10, 300, 20), 30) << file;
  // The bar's left half is filled, its right half is not.
  EXPECT_NE(stats.Pixel(80, 49), stats.Pixel(240, 49)) << file;
}
#endif
