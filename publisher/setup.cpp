#include "publisher/setup.h"

namespace {

template <typename T>
T* Make(TSetupFrm* form, const char* name, int32_t left, int32_t top, int32_t width, int32_t height) {
  T* c = new T(form);
  c->Name = name;
  c->SetBounds(left, top, width, height);
  return c;
}

TLabel* MakeLabel(TSetupFrm* form, const char* name, const char* caption, int32_t left, int32_t top, int32_t width) {
  TLabel* l = Make<TLabel>(form, name, left, top, width, 13);
  l->Caption = caption;
  return l;
}

}  // namespace

TSetupFrm::TSetupFrm(TComponent* AOwner) : TForm(AOwner) {
  Name = "SetupFrm";
  Caption = "Setup";
  BorderStyle = bsToolWindow;
  FormStyle = fsStayOnTop;
  Position = poScreenCenter;
  ClientWidth = 471;
  ClientHeight = 238;
  Color = clInactiveBorder;
  Font.Name = "Tahoma";
  Font.Height = -11;

  // Left column: filter, stretch, mask weight.
  Label1 = MakeLabel(this, "Label1", "Filter", 16, 24, 24);
  ComboBox1 = Make<TComboBox>(this, "ComboBox1", 56, 20, 200, 21);
  ComboBox1->Style = csDropDownList;
  ComboBox1->Items = {"PREWITT", "V1", "V_SQUARE", "SOBEL", "LAPLACIAN "};
  ComboBox1->SetItemIndex(0);
  ComboBox1->TabOrder = 0;

  Label2 = MakeLabel(this, "Label2", "Stretch", 16, 72, 36);
  TrackBar1 = Make<TTrackBar>(this, "TrackBar1", 56, 62, 136, 33);
  TrackBar1->SetRange(0, 800);
  TrackBar1->Frequency = 25;
  TrackBar1->SetPosition(400);
  TrackBar1->TabOrder = 1;
  Label3 = MakeLabel(this, "Label3", "Interpolation", 196, 72, 64);

  Label6 = MakeLabel(this, "Label6", "Masque Weight", 16, 112, 72);
  TrackBar2 = Make<TTrackBar>(this, "TrackBar2", 8, 128, 252, 33);
  TrackBar2->SetRange(0, 100);
  TrackBar2->Frequency = 4;
  TrackBar2->SetPosition(100);
  TrackBar2->TabOrder = 2;
  Label4 = MakeLabel(this, "Label4", "o%", 16, 164, 16);
  Label5 = MakeLabel(this, "Label5", "100%", 232, 164, 26);

  // Right column: the check box above the group it governs.
  chkScale = Make<TCheckBox>(this, "chkScale", 288, 20, 169, 17);
  chkScale->Caption = "Scale before Carving";
  chkScale->SetChecked(true);
  chkScale->TabOrder = 6;
  chkScale->OnClick = [this](TObject* Sender) { chkScaleClick(Sender); };
  ScaleRG = Make<TRadioGroup>(this, "ScaleRG", 288, 48, 169, 105);
  ScaleRG->Caption = "Sampling quality";
  ScaleRG->Items = {"Low", "Good", "High"};
  ScaleRG->SetItemIndex(2);
  ScaleRG->TabOrder = 5;

  // OK and Cancel side by side, centred at the bottom.
  BitBtn1 = Make<TBitBtn>(this, "BitBtn1", 152, 196, 75, 25);
  BitBtn1->Caption = "OK";
  BitBtn1->Default = true;
  BitBtn1->ModalResult = mrOk;
  BitBtn1->TabOrder = 3;
  BitBtn1->LoadStockGlyph(bkOK);
  BitBtn2 = Make<TBitBtn>(this, "BitBtn2", 244, 196, 75, 25);
  BitBtn2->Caption = "Cancel";
  BitBtn2->Cancel = true;
  BitBtn2->ModalResult = mrCancel;
  BitBtn2->TabOrder = 4;
  BitBtn2->LoadStockGlyph(bkCancel);
}

void TSetupFrm::chkScaleClick(TObject*) {
  ScaleRG->SetEnabled(chkScale->Checked());
}
