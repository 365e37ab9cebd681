#include "vcl/Controls.h"

#include <algorithm>
#include <cstdlib>

#include "vcl/Forms.h"

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  // Owned components go first, the last made first.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    FComponents.pop_back();
    c->FOwner = nullptr;
    delete c;
  }
  if (FOwner) std::erase(FOwner->FComponents, this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  for (TComponent* c : FComponents)
    if (c->Name == name) return c;
  return nullptr;
}

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) { SetParent(dynamic_cast<TWinControl*>(AOwner)); }

TControl::~TControl() { SetParent(nullptr); }

void TControl::SetParent(TWinControl* p) {
  if (FParent) std::erase(FParent->FControls, this);
  FParent = p;
  if (FParent) FParent->FControls.push_back(this);
}

TForm* TControl::ParentForm() {
  TControl* c = this;
  while (c->Parent()) c = c->Parent();
  return dynamic_cast<TForm*>(c);
}

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
}

bool TControl::CanTakeInput() const {
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->Visible || !c->Enabled()) return false;
  return true;
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

TWinControl::~TWinControl() {
  // Children owned elsewhere outlive their parent here; they only lose it.
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
}

void TButton::Click() {
  if (ModalResult != mrNone)
    if (TForm* f = ParentForm()) f->ModalResult = ModalResult;
  TWinControl::Click();
}

TBitBtn::TBitBtn(TComponent* AOwner) : TButton(AOwner), FGlyph(new TBitmap) {}

namespace {

// A check mark: a short stroke down to (6, 12), a long one up to (14, 3),
// each about three pixels thick.
bool InCheck(int32_t x, int32_t y) {
  if (x >= 2 && x <= 6 && std::abs((y - 8) - (x - 2)) <= 1) return true;
  return x >= 6 && x <= 14 && std::abs((y - 12) + (x - 6)) <= 1;
}

// A cross over the two diagonals, about three pixels thick.
bool InCross(int32_t x, int32_t y) {
  if (x < 3 || x > 12 || y < 3 || y > 12) return false;
  return std::abs(x - y) <= 1 || std::abs(x + y - 15) <= 1;
}

}  // namespace

void TBitBtn::LoadStockGlyph(TBitBtnKind kind) {
  // The bottom-left pixel's colour is the transparent one, so the background
  // keeps it and the figure never uses it.
  constexpr TColor kBackground = 0xFF00FF;
  const TColor colour = kind == bkOK ? RGBColor(0, 160, 0) : RGBColor(208, 0, 0);
  bool (*inFigure)(int32_t, int32_t) = kind == bkOK ? InCheck : InCross;
  FGlyph->SetPixelFormat(pf24bit);
  FGlyph->SetSize(16, 16);
  TCanvas& c = *FGlyph->Canvas();
  c.FillRect({0, 0, 16, 16}, kBackground);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x)
      if (inFigure(x, y)) c.SetPixel(x, y, colour);
}

void TCheckBox::SetChecked(bool c) {
  if (c == FChecked) return;
  FChecked = c;
  TWinControl::Click();
}

void TCheckBox::Click() { SetChecked(!FChecked); }

void TComboBox::SetItemIndex(int i) { FItemIndex = (i >= 0 && i < int(Items.size())) ? i : -1; }

void TComboBox::Select(int i) {
  SetItemIndex(i);
  if (OnChange) OnChange(this);
}

void TRadioGroup::SetItemIndex(int i) { FItemIndex = (i >= 0 && i < int(Items.size())) ? i : -1; }

void TRadioGroup::Select(int i) {
  if (i < 0 || i >= int(Items.size())) return;
  FItemIndex = i;
  Click();
}

void TTrackBar::SetRange(int min, int max) {
  FMin = min;
  FMax = std::max(min, max);
  FPosition = std::clamp(FPosition, FMin, FMax);
}

void TTrackBar::SetPosition(int p) { FPosition = std::clamp(p, FMin, FMax); }

void TTrackBar::Drag(int p) {
  SetPosition(p);
  if (OnChange) OnChange(this);
}

TImage::TImage(TComponent* AOwner) : TControl(AOwner), FPicture(new TBitmap) {}
