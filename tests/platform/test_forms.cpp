// Forms shown modally and their controls, played through the UI driver as a
// user would: buttons with modal results, Enter and Escape, frames without a
// close box, state changes that run handlers, disabled controls, and input
// served in order with the calls that threads hand to the main thread.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vcl/UiDriver.h"

namespace {

// A dialog with the kinds of controls the system's forms use.
struct TTestForm : TForm {
  TButton* Ok = new TButton(this);
  TButton* Cancel = new TButton(this);
  TCheckBox* Check = new TCheckBox(this);
  TRadioGroup* Group = new TRadioGroup(this);
  TTrackBar* Track = new TTrackBar(this);
  TComboBox* Combo = new TComboBox(this);
  TWinControl* Panel = new TWinControl(this);
  TButton* Inner = new TButton(this);  // owned by the form, sitting in the panel
  std::vector<std::string> Log;

  TTestForm() : TForm(nullptr) {
    Ok->Name = "Ok";
    Ok->ModalResult = mrOk;
    Ok->Default = true;
    Cancel->Name = "Cancel";
    Cancel->ModalResult = mrCancel;
    Cancel->Cancel = true;
    Cancel->OnClick = [this](TObject*) { Log.push_back("cancel sees " + std::to_string(ModalResult)); };
    Check->Name = "Check";
    Check->OnClick = [this](TObject*) { Log.push_back(Check->Checked() ? "checked" : "unchecked"); };
    Group->Name = "Group";
    Group->Items = {"Low", "Good", "High"};
    Track->Name = "Track";
    Track->SetRange(0, 100);
    Combo->Name = "Combo";
    Combo->Items = {"a", "b"};
    Panel->Name = "Panel";
    Inner->Name = "Inner";
    Inner->SetParent(Panel);
    Inner->ModalResult = 7;
  }
};

TEST(Forms, ButtonsEndTheModalRunWithTheirResultBeforeTheirHandlerRuns) {
  struct TCase {
    std::function<void()> Input;
    TModalResult Expected;
  } cases[] = {
      {[] { UiDriver::Click("Ok"); }, mrOk},
      {[] { UiDriver::Click("Cancel"); }, mrCancel},
      {[] { UiDriver::PressKey(VK_RETURN); }, mrOk},
      {[] { UiDriver::PressKey(VK_ESCAPE); }, mrCancel},
      {[] { UiDriver::Click("Inner"); }, 7},  // a button inside a panel finds its form
  };
  for (auto& c : cases) {
    TTestForm f;
    c.Input();
    EXPECT_EQ(f.ShowModal(), c.Expected);
    EXPECT_FALSE(f.Modal());
    EXPECT_FALSE(f.Visible);
    if (c.Expected == mrCancel) {
      EXPECT_EQ(f.Log, std::vector<std::string>{"cancel sees 2"});
    }
  }
}

TEST(Forms, InputTheTargetCannotTakeIsDropped) {
  UiDriver::Reset();
  TTestForm f;
  f.BorderIcons = 0;  // no system menu, no close box
  f.Cancel->SetEnabled(false);
  f.Panel->SetEnabled(false);
  f.Group->SetEnabled(false);
  f.Ok->Visible = false;
  UiDriver::CloseWindow();
  UiDriver::PressKey(VK_ESCAPE);
  UiDriver::PressKey(VK_RETURN);
  UiDriver::Click("Cancel");
  UiDriver::Click("Inner");  // enabled itself, but its panel is not
  UiDriver::Select("Group", 2);
  Application.Post([&f] {
    EXPECT_EQ(UiDriver::Dropped(), 6);
    EXPECT_EQ(f.Group->ItemIndex(), -1);
    f.Group->SetItemIndex(1);  // code still can
    f.ModalResult = 9;
  });
  EXPECT_EQ(f.ShowModal(), 9);
  EXPECT_EQ(f.Group->ItemIndex(), 1);
  EXPECT_TRUE(f.Log.empty());

  // With a close box the frame closes it as Cancel.
  f.BorderIcons = biSystemMenu;
  UiDriver::CloseWindow();
  EXPECT_EQ(f.ShowModal(), mrCancel);
  UiDriver::Click("Ok");  // no form shown: dropped when the loop serves it
  Application.ProcessMessages();
  EXPECT_EQ(UiDriver::Dropped(), 7);
  // Closed once, the form takes input when it is shown again.
  f.Ok->Visible = true;
  UiDriver::Click("Ok");
  EXPECT_EQ(f.ShowModal(), mrOk);
}

TEST(Forms, CheckBoxRunsItsHandlerOnEveryChangeWhoeverMakesIt) {
  TTestForm f;
  f.Check->SetChecked(true);
  f.Check->SetChecked(true);  // no change, no handler
  f.Check->SetChecked(false);
  UiDriver::Click("Check");
  UiDriver::Click("Check");
  UiDriver::Click("Ok");
  f.ShowModal();
  EXPECT_EQ(f.Log, (std::vector<std::string>{"checked", "unchecked", "checked", "unchecked"}));
}

TEST(Forms, ListsAndTrackBarsKeepTheirValuesInRange) {
  TTestForm f;
  f.Track->SetPosition(150);
  EXPECT_EQ(f.Track->Position(), 100);
  f.Track->SetPosition(-3);
  EXPECT_EQ(f.Track->Position(), 0);
  f.Combo->SetItemIndex(1);
  EXPECT_EQ(f.Combo->ItemIndex(), 1);
  f.Combo->SetItemIndex(2);
  EXPECT_EQ(f.Combo->ItemIndex(), -1);
  UiDriver::Drag("Track", 40);
  UiDriver::Select("Combo", 0);
  UiDriver::Select("Group", 2);
  UiDriver::Click("Ok");
  f.ShowModal();
  EXPECT_EQ(f.Track->Position(), 40);
  EXPECT_EQ(f.Combo->ItemIndex(), 0);
  EXPECT_EQ(f.Group->ItemIndex(), 2);
}

TEST(Forms, ScriptsRunInsideTheModalRunAndNestedRunsTargetTheInnermostForm) {
  TTestForm outer, inner;
  UiDriver::WhenShown([&](TForm& shown) {
    EXPECT_EQ(&shown, &outer);
    EXPECT_TRUE(outer.Modal());
    UiDriver::WhenShown([&](TForm& second) {
      EXPECT_EQ(&second, &inner);
      EXPECT_EQ(Application.ActiveForm(), &inner);
      UiDriver::Click("Ok");  // goes to the inner form
    });
    EXPECT_EQ(inner.ShowModal(), mrOk);
    EXPECT_EQ(Application.ActiveForm(), &outer);
    UiDriver::Click("Cancel");
  });
  EXPECT_EQ(outer.ShowModal(), mrCancel);
  EXPECT_EQ(Application.ActiveForm(), nullptr);
}

// A thread's Synchronize call queued before a click runs before it.
TEST(Forms, InputIsServedInOrderWithThreadCalls) {
  struct TSyncThread : TThread {
    std::vector<std::string>* Log;
    os::Semaphore* Queued;
    explicit TSyncThread(std::vector<std::string>* log, os::Semaphore* queued)
        : TThread(true), Log(log), Queued(queued) {}
    void Execute() override {
      Queued->Release(1);
      Synchronize([this] { Log->push_back("sync"); });
    }
  };
  TTestForm f;
  std::unique_ptr<os::Semaphore> queued(os::Semaphore::Create(0, 1));
  TSyncThread t(&f.Log, queued.get());
  t.Resume();
  queued->Wait();
  while (Application.PendingCount() == 0) std::this_thread::yield();
  UiDriver::Click("Cancel");
  EXPECT_EQ(f.ShowModal(), mrCancel);
  t.WaitFor();
  EXPECT_EQ(f.Log, (std::vector<std::string>{"sync", "cancel sees 2"}));
}

TEST(Forms, OwnersFreeWhatTheyOwn) {
  static int freed = 0;
  struct TCounted : TLabel {
    using TLabel::TLabel;
    ~TCounted() override { ++freed; }
  };
  freed = 0;
  {
    TTestForm f;
    new TCounted(&f);
    new TCounted(f.Panel);
    auto* gone = new TCounted(&f);
    delete gone;  // leaves its owner and parent
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(f.FindComponent("Ok"), f.Ok);
  }
  EXPECT_EQ(freed, 3);
}

}  // namespace
