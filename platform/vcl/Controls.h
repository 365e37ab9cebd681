#pragma once
// Components and the controls the system's forms are made of. Controls keep
// their layout (position, size, captions, settings) so that a windowing
// backend can show them as designed; their behaviour (clicks, state changes,
// enabling) lives here and is the same on every backend.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vcl/Classes.h"
#include "vcl/Graphics.h"

// System colours: an index into the system's colour table, flagged by the top bit.
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clInactiveBorder = 0x8000000B;

// Virtual key codes the forms react to.
constexpr uint16_t VK_RETURN = 0x0D;
constexpr uint16_t VK_ESCAPE = 0x1B;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;

struct TFont {
  std::string Name = "MS Sans Serif";
  int32_t Height = -11;  // negative: character height in pixels at 96 dots per inch
  // Points at 96 dots per inch.
  int32_t Size() const { return (-Height * 72 + 48) / 96; }
};

// An object with a name that frees the components it owns.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  // The owned component of that name, or null.
  TComponent* FindComponent(const std::string& name) const;
  const std::vector<TComponent*>& Components() const { return FComponents; }

  std::string Name;

 private:
  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
};

class TWinControl;
class TForm;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TControl : public TComponent {
 public:
  // The parent is the owner when the owner is a windowed control.
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  void SetParent(TWinControl* p);
  // The form the control sits on, or null.
  TForm* ParentForm();

  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  TAlign Align = alNone;
  std::string Caption;
  TFont Font;
  bool ParentFont = true;
  int TabOrder = -1;
  bool Visible = true;

  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool e) { FEnabled = e; }
  // Whether the control and every parent are visible and enabled: whether
  // the user can reach it.
  bool CanTakeInput() const;

  // What a click (by the user, or by code) does. Derived controls add to it.
  virtual void Click();
  TNotifyEvent OnClick;

 private:
  TWinControl* FParent = nullptr;
  bool FEnabled = true;
};

class TWinControl : public TControl {
 public:
  using TControl::TControl;
  ~TWinControl() override;
  const std::vector<TControl*>& Controls() const { return FControls; }

 private:
  friend class TControl;
  std::vector<TControl*> FControls;
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
  bool AutoSize = true;
  bool Transparent = false;
};

class TButton : public TWinControl {
 public:
  using TWinControl::TWinControl;
  // Sets the form's modal result to the button's own (when not mrNone), then
  // runs the click handler.
  void Click() override;
  TModalResult ModalResult = mrNone;
  bool Default = false;  // Enter presses it
  bool Cancel = false;   // Escape presses it
};

enum TBitBtnKind { bkOK, bkCancel };

// A button with a picture beside its caption.
class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* AOwner);
  TBitmap* Glyph() { return FGlyph.get(); }
  // The 16 x 16 pictures of the common buttons: a green check, a red cross.
  void LoadStockGlyph(TBitBtnKind kind);
  int NumGlyphs = 1;

 private:
  std::unique_ptr<TBitmap> FGlyph;
};

class TCheckBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
  bool Checked() const { return FChecked; }
  // Every change of state runs the click handler, whoever makes it.
  void SetChecked(bool c);
  // A user's click toggles the state.
  void Click() override;

 private:
  bool FChecked = false;
};

enum TComboBoxStyle { csDropDown, csDropDownList };

// A drop-down list. ItemIndex is -1 when nothing is selected.
class TComboBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
  TComboBoxStyle Style = csDropDown;
  std::vector<std::string> Items;
  int ItemIndex() const { return FItemIndex; }
  // An index outside the items selects nothing, as the system's list does.
  void SetItemIndex(int i);
  // The user picks an item: the selection changes and OnChange runs.
  void Select(int i);
  TNotifyEvent OnChange;

 private:
  int FItemIndex = -1;
};

// A group of radio buttons, one per item. Disabled, the user cannot pick an
// item, but code can still set the index.
class TRadioGroup : public TWinControl {
 public:
  using TWinControl::TWinControl;
  std::vector<std::string> Items;
  int Columns = 1;
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int i);
  void Select(int i);

 private:
  int FItemIndex = -1;
};

enum TTrackBarOrientation { trHorizontal, trVertical };

class TTrackBar : public TWinControl {
 public:
  using TWinControl::TWinControl;
  void SetRange(int min, int max);
  int Min() const { return FMin; }
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  // Kept inside Min..Max, as the system's track bar does.
  void SetPosition(int p);
  // The user drags the thumb: the position changes and OnChange runs.
  void Drag(int p);
  int Frequency = 1;
  TTrackBarOrientation Orientation = trHorizontal;
  TNotifyEvent OnChange;

 private:
  int FMin = 0;
  int FMax = 10;
  int FPosition = 0;
};

// Shows a picture, at its natural size from the top-left corner unless stretched.
class TImage : public TControl {
 public:
  explicit TImage(TComponent* AOwner);
  TBitmap* Picture() { return FPicture.get(); }
  bool Stretch = false;
  bool Center = false;

 private:
  std::unique_ptr<TBitmap> FPicture;
};
