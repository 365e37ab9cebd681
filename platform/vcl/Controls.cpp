#include "vcl/Controls.h"

#include <algorithm>

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
