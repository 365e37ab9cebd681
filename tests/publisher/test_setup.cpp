// The Setup dialog: its controls as laid out, loading and storing the five
// carve settings, and the quality group that follows "Scale before Carving".
// The user is played through the UI driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "publisher/PUBAddIn_IMPL.h"
#include "publisher/setup.h"
#include "vcl/Forms.h"
#include "vcl/UiDriver.h"

namespace {

struct TSettings {
  int Filter, Stretch, MaskWeight, Quality;
  bool Scale;
  bool operator==(const TSettings&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TSettings& s) {
  return os << "{filter " << s.Filter << ", stretch " << s.Stretch << ", mask weight " << s.MaskWeight
            << ", quality " << s.Quality << ", scale " << s.Scale << "}";
}

const TSettings kDefaults{0, 400, 100, 2, true};

TSettings Read(const TPUBAddIn& a) {
  return {a.FFilter, a.FStretch, a.FMaskWeight, a.FSamplingQuality, a.FScaleBeforeCarving};
}

void Write(TPUBAddIn& a, const TSettings& s) {
  a.FFilter = static_cast<uint8_t>(s.Filter);
  a.FStretch = s.Stretch;
  a.FMaskWeight = s.MaskWeight;
  a.FSamplingQuality = s.Quality;
  a.FScaleBeforeCarving = s.Scale;
}

TSettings Shown(const TSetupFrm& f) {
  return {f.ComboBox1->ItemIndex(), f.TrackBar1->Position(), f.TrackBar2->Position(), f.ScaleRG->ItemIndex(),
          f.chkScale->Checked()};
}

class SetupDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    Application.SetMainThread();
    UiDriver::Reset();
    // No threads here: once all queued input has been served, a dialog still
    // open was never ended by its script. Fail rather than hang.
    Application.OnIdle = [] {
      ADD_FAILURE() << "the dialog was left open";
      if (TForm* f = Application.ActiveForm()) f->Close();
    };
  }
  void TearDown() override {
    Application.OnIdle = nullptr;
    Application.ProcessMessages();  // input a failed test left behind
  }

  // Opens the dialog with script as the user's first move.
  void Open(std::function<void(TSetupFrm&)> script) {
    UiDriver::WhenShown([script](TForm& f) {
      auto* setup = dynamic_cast<TSetupFrm*>(&f);
      ASSERT_NE(setup, nullptr);
      script(*setup);
    });
    AddIn.ShowSetup();
  }
  // Runs check behind the input queued so far.
  static void Then(std::function<void()> check) { Application.Post(std::move(check)); }

  TPUBAddIn AddIn;
};

struct TWayOut {
  const char* Name;
  void (*Do)();
};

const TWayOut kCancels[] = {{"Cancel button", [] { UiDriver::Click("BitBtn2"); }},
                            {"Escape", [] { UiDriver::PressKey(VK_ESCAPE); }},
                            {"close box", [] { UiDriver::CloseWindow(); }}};

const TWayOut kOks[] = {{"OK button", [] { UiDriver::Click("BitBtn1"); }},
                        {"Enter", [] { UiDriver::PressKey(VK_RETURN); }}};

TEST_F(SetupDialog, DefaultsAtCreationAndAfterEveryReset) {
  EXPECT_EQ(Read(AddIn), kDefaults);
  // A user's changes, then a new connection.
  Open([](TSetupFrm&) {
    UiDriver::Select("ComboBox1", 2);
    UiDriver::Drag("TrackBar1", 50);
    UiDriver::Drag("TrackBar2", 8);
    UiDriver::Select("ScaleRG", 0);
    UiDriver::Click("chkScale");
    UiDriver::Click("BitBtn1");
  });
  ASSERT_EQ(Read(AddIn), (TSettings{2, 50, 8, 0, false}));
  AddIn.SetDefaultSettings();
  EXPECT_EQ(Read(AddIn), kDefaults);
  Open([](TSetupFrm& f) {
    EXPECT_EQ(Shown(f), kDefaults);
    EXPECT_EQ(f.ComboBox1->Items.at(size_t(f.ComboBox1->ItemIndex())), "PREWITT");
    EXPECT_EQ(f.ScaleRG->Items.at(size_t(f.ScaleRG->ItemIndex())), "High");
    EXPECT_TRUE(f.ScaleRG->Enabled());
    UiDriver::Click("BitBtn2");
  });
  EXPECT_EQ(UiDriver::Dropped(), 0);
}

TEST_F(SetupDialog, EveryWayOutButOkKeepsAllFiveSettings) {
  const TSettings start{4, 775, 36, 1, true};
  for (const TWayOut& way : kCancels) {
    SCOPED_TRACE(way.Name);
    UiDriver::Reset();
    Write(AddIn, start);
    Open([&way](TSetupFrm& f) {
      UiDriver::Select("ComboBox1", 1);
      UiDriver::Drag("TrackBar1", 125);
      UiDriver::Drag("TrackBar2", 60);
      UiDriver::Select("ScaleRG", 0);
      UiDriver::Click("chkScale");
      Then([&f] { EXPECT_EQ(Shown(f), (TSettings{1, 125, 60, 0, false})); });
      way.Do();
    });
    EXPECT_EQ(Read(AddIn), start);
    EXPECT_EQ(UiDriver::Dropped(), 0);
  }
}

TEST_F(SetupDialog, OkWithoutTouchingWritesTheSameValuesBack) {
  const TSettings starts[] = {{4, 775, 36, 1, false}, {3, 0, 0, 0, true}, {1, 800, 100, 2, false}};
  for (const TWayOut& way : kOks)
    for (const TSettings& start : starts) {
      SCOPED_TRACE(::testing::Message() << way.Name << " " << start);
      Write(AddIn, start);
      Open([&](TSetupFrm& f) {
        EXPECT_EQ(Shown(f), start);
        way.Do();
      });
      EXPECT_EQ(Read(AddIn), start);
    }
  EXPECT_EQ(UiDriver::Dropped(), 0);
}

TEST_F(SetupDialog, OkStoresAllFiveChangesAtOnce) {
  Open([](TSetupFrm&) {
    UiDriver::Select("ComboBox1", 4);
    UiDriver::Drag("TrackBar1", 125);
    UiDriver::Drag("TrackBar2", 40);
    UiDriver::Select("ScaleRG", 1);
    UiDriver::Click("chkScale");
    UiDriver::Click("BitBtn1");
  });
  EXPECT_EQ(Read(AddIn), (TSettings{4, 125, 40, 1, false}));
  EXPECT_EQ(UiDriver::Dropped(), 0);
}

TEST_F(SetupDialog, QualityIsStoredWhileGreyedOut) {
  Write(AddIn, {0, 400, 100, 1, false});
  Open([](TSetupFrm& f) {
    UiDriver::Select("ScaleRG", 2);  // the user cannot pick in the greyed group
    Then([&f] {
      EXPECT_EQ(UiDriver::Dropped(), 1);
      EXPECT_EQ(f.ScaleRG->ItemIndex(), 1);
      f.ScaleRG->SetItemIndex(0);  // code still can
    });
    UiDriver::Click("BitBtn1");
  });
  EXPECT_EQ(AddIn.FSamplingQuality, 0);
  EXPECT_FALSE(AddIn.FScaleBeforeCarving);
}

TEST_F(SetupDialog, QualityGroupFollowsTheCheckBoxFromTheStart) {
  for (bool start : {false, true}) {
    SCOPED_TRACE(start ? "opened checked" : "opened unchecked");
    UiDriver::Reset();
    Write(AddIn, {0, 400, 100, 2, start});
    Open([start](TSetupFrm& f) {
      EXPECT_EQ(f.ScaleRG->Enabled(), start);
      // A pick gets through exactly while the group is enabled.
      UiDriver::Select("ScaleRG", 1);
      Then([&f, start] {
        EXPECT_EQ(f.ScaleRG->ItemIndex(), start ? 1 : 2);
        EXPECT_EQ(UiDriver::Dropped(), start ? 0 : 1);
      });
      UiDriver::Click("chkScale");
      Then([&f, start] { EXPECT_EQ(f.ScaleRG->Enabled(), !start); });
      UiDriver::Select("ScaleRG", 0);
      Then([&f, start] {
        EXPECT_EQ(f.ScaleRG->ItemIndex(), start ? 1 : 0);
        EXPECT_EQ(UiDriver::Dropped(), 1);
      });
      UiDriver::Click("chkScale");
      Then([&f, start] { EXPECT_EQ(f.ScaleRG->Enabled(), start); });
      UiDriver::Click("BitBtn2");
    });
  }
}

// ---- the form as designed

struct TRectOf {
  int32_t L, T, R, B;
};
TRectOf RectOf(const TControl& c) { return {c.Left, c.Top, c.Left + c.Width, c.Top + c.Height}; }

// Whether the glyph has a pixel whose channel at shift clearly dominates the other two.
bool HasPixelOf(const TBitmap& glyph, int shift) {
  for (int32_t y = 0; y < glyph.Height(); ++y)
    for (int32_t x = 0; x < glyph.Width(); ++x) {
      const TColor c = glyph.PixelAt(x, y);
      const int main = int((c >> shift) & 255);
      int others = 0;
      for (int s : {0, 8, 16})
        if (s != shift) others = std::max(others, int((c >> s) & 255));
      if (main >= 128 && others <= main / 4) return true;
    }
  return false;
}

TEST(SetupForm, IsLaidOutAsDesigned) {
  TSetupFrm f(nullptr);
  EXPECT_EQ(f.Caption, "Setup");
  EXPECT_EQ(f.BorderStyle, bsToolWindow);
  EXPECT_EQ(f.FormStyle, fsStayOnTop);
  EXPECT_EQ(f.Position, poScreenCenter);
  EXPECT_EQ(f.ClientWidth, 471);
  EXPECT_EQ(f.ClientHeight, 238);
  EXPECT_EQ(f.Color, clInactiveBorder);
  EXPECT_EQ(f.Font.Name, "Tahoma");
  EXPECT_EQ(f.Font.Height, -11);
  EXPECT_EQ(f.Font.Size(), 8);

  struct TRow {
    const char* Name;
    TControl* Member;
    const char* Caption;
    int TabOrder;  // -1: not a tab stop
  };
  const TRow rows[] = {{"Label1", f.Label1, "Filter", -1},
                       {"ComboBox1", f.ComboBox1, "", 0},
                       {"Label2", f.Label2, "Stretch", -1},
                       {"TrackBar1", f.TrackBar1, "", 1},
                       {"Label3", f.Label3, "Interpolation", -1},
                       {"Label6", f.Label6, "Masque Weight", -1},
                       {"TrackBar2", f.TrackBar2, "", 2},
                       {"Label4", f.Label4, "o%", -1},
                       {"Label5", f.Label5, "100%", -1},
                       {"chkScale", f.chkScale, "Scale before Carving", 6},
                       {"ScaleRG", f.ScaleRG, "Sampling quality", 5},
                       {"BitBtn1", f.BitBtn1, "OK", 3},
                       {"BitBtn2", f.BitBtn2, "Cancel", 4}};
  EXPECT_EQ(f.Components().size(), std::size(rows));
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    ASSERT_NE(r.Member, nullptr);
    EXPECT_EQ(f.FindComponent(r.Name), r.Member);
    EXPECT_EQ(r.Member->Owner(), &f);
    EXPECT_EQ(r.Member->Parent(), &f);
    EXPECT_TRUE(r.Member->ParentFont);
    EXPECT_EQ(r.Member->Caption, r.Caption);
    if (r.TabOrder >= 0) {
      EXPECT_EQ(r.Member->TabOrder, r.TabOrder);
    }
    // Inside the client area, and clear of every other control.
    const TRectOf a = RectOf(*r.Member);
    EXPECT_TRUE(a.L >= 0 && a.T >= 0 && a.R <= f.ClientWidth && a.B <= f.ClientHeight && a.R > a.L && a.B > a.T);
    for (const TRow& o : rows) {
      if (&o == &r) continue;
      const TRectOf b = RectOf(*o.Member);
      EXPECT_FALSE(a.L < b.R && b.L < a.R && a.T < b.B && b.T < a.B) << "overlaps " << o.Name;
    }
  }

  EXPECT_EQ(f.ComboBox1->Style, csDropDownList);
  EXPECT_EQ(f.ComboBox1->Items, (std::vector<std::string>{"PREWITT", "V1", "V_SQUARE", "SOBEL", "LAPLACIAN "}));
  EXPECT_EQ(f.ScaleRG->Items, (std::vector<std::string>{"Low", "Good", "High"}));
  struct TBar {
    TTrackBar* Bar;
    int Min, Max, Frequency;
  };
  for (const TBar& t : {TBar{f.TrackBar1, 0, 800, 25}, TBar{f.TrackBar2, 0, 100, 4}}) {
    EXPECT_EQ(t.Bar->Min(), t.Min);
    EXPECT_EQ(t.Bar->Max(), t.Max);
    EXPECT_EQ(t.Bar->Frequency, t.Frequency);
    EXPECT_EQ(t.Bar->Orientation, trHorizontal);
  }
  EXPECT_TRUE(f.BitBtn1->Default && !f.BitBtn1->Cancel);
  EXPECT_EQ(f.BitBtn1->ModalResult, 1);
  EXPECT_TRUE(f.BitBtn2->Cancel && !f.BitBtn2->Default);
  EXPECT_EQ(f.BitBtn2->ModalResult, 2);
  // As designed: checked, so that loading false greys the group.
  EXPECT_TRUE(f.chkScale->Checked());
  EXPECT_TRUE(f.ScaleRG->Enabled());

  // Left column, right column, buttons centred underneath.
  const TControl* left[] = {f.Label1, f.ComboBox1, f.Label2, f.TrackBar1, f.Label3,
                            f.Label6, f.TrackBar2, f.Label4, f.Label5};
  for (const TControl* c : left) {
    EXPECT_LE(RectOf(*c).R, f.chkScale->Left);
    EXPECT_LE(RectOf(*c).R, f.ScaleRG->Left);
  }
  EXPECT_LE(RectOf(*f.chkScale).B, f.ScaleRG->Top);
  EXPECT_LE(RectOf(*f.Label2).R, f.TrackBar1->Left + 4);
  EXPECT_GE(f.Label3->Left, RectOf(*f.TrackBar1).R - 4);
  EXPECT_LE(RectOf(*f.Label6).B, f.TrackBar2->Top);
  for (const TLabel* l : {f.Label4, f.Label5}) EXPECT_GE(l->Top, RectOf(*f.TrackBar2).B - 4);
  EXPECT_LE(std::abs(f.Label4->Left - f.TrackBar2->Left), 16);
  EXPECT_LE(std::abs(RectOf(*f.Label5).R - RectOf(*f.TrackBar2).R), 16);
  EXPECT_EQ(f.BitBtn1->Top, f.BitBtn2->Top);
  EXPECT_LT(RectOf(*f.BitBtn1).R, f.BitBtn2->Left);
  EXPECT_LE(std::abs(f.BitBtn1->Left + RectOf(*f.BitBtn2).R - f.ClientWidth), 4);
  for (const TControl* c : left) EXPECT_LE(RectOf(*c).B, f.BitBtn1->Top);
  EXPECT_LE(RectOf(*f.ScaleRG).B, f.BitBtn1->Top);

  // Glyphs: a green check on OK, a red cross on Cancel.
  for (TBitBtn* b : {f.BitBtn1, f.BitBtn2}) {
    EXPECT_EQ(b->Glyph()->Width(), 16);
    EXPECT_EQ(b->Glyph()->Height(), 16);
  }
  EXPECT_TRUE(HasPixelOf(*f.BitBtn1->Glyph(), 8));
  EXPECT_FALSE(HasPixelOf(*f.BitBtn1->Glyph(), 0));
  EXPECT_TRUE(HasPixelOf(*f.BitBtn2->Glyph(), 0));
  EXPECT_FALSE(HasPixelOf(*f.BitBtn2->Glyph(), 8));
}

}  // namespace
