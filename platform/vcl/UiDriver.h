#pragma once
// Drives the forms as a user would: each call queues one piece of input,
// which the application loop delivers in order of arrival to the form whose
// modal run is innermost at that moment. Input that its target cannot take
// (no form shown, a disabled or hidden control, a frame without a close box)
// is dropped and counted, as the system drops it.
#include <cstdint>
#include <functional>
#include <string>

#include "vcl/Forms.h"

namespace UiDriver {

// Clicks the control of that name (a button, a check box, ...).
void Click(const std::string& control);
// Picks item index of a drop-down list or a radio group.
void Select(const std::string& control, int index);
// Drags a track bar's thumb to position.
void Drag(const std::string& control, int position);
// A key pressed in the form (VK_RETURN, VK_ESCAPE).
void PressKey(uint16_t key);
// The frame's close box.
void CloseWindow();
// Runs script once, inside the next modal run before any queued input, with
// that form. Input the script queues comes after what was queued before.
void WhenShown(std::function<void(TForm&)> script);

// Input dropped since the last Reset.
int Dropped();
// Clears the count and the scripts not run yet.
void Reset();

}  // namespace UiDriver
