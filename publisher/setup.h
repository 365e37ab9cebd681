#pragma once
// The Setup dialog: the five carve settings.
#include "vcl/Controls.h"
#include "vcl/Forms.h"

class TSetupFrm : public TForm {
 public:
  // Builds the dialog and its controls, all owned by the form. As designed
  // the check box is checked and the quality group enabled, so that loading
  // an unchecked value is a change that greys the group.
  explicit TSetupFrm(TComponent* AOwner);

  TLabel* Label1;
  TComboBox* ComboBox1;
  TLabel* Label2;
  TTrackBar* TrackBar1;
  TLabel* Label3;
  TLabel* Label6;
  TTrackBar* TrackBar2;
  TLabel* Label4;
  TLabel* Label5;
  TCheckBox* chkScale;
  TRadioGroup* ScaleRG;
  TBitBtn* BitBtn1;
  TBitBtn* BitBtn2;

  // The sampling quality only matters while the picture is scaled first.
  void chkScaleClick(TObject* Sender);
};
