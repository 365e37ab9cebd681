#include "vcl/UiDriver.h"

#include <atomic>
#include <stdexcept>

namespace UiDriver {
namespace {

std::atomic<int> gDropped{0};

// Finds the named control on the active form and hands it to act if the user
// could reach it. A name the form does not have is a fault of the script.
template <typename T>
void Deliver(const std::string& name, std::function<void(T&)> act) {
  Application.Post([name, act = std::move(act)] {
    TForm* form = Application.ActiveForm();
    if (!form) {
      ++gDropped;
      return;
    }
    auto* c = dynamic_cast<T*>(form->FindComponent(name));
    if (!c) throw std::logic_error("the form has no control " + name + " of that kind");
    if (!c->CanTakeInput()) {
      ++gDropped;
      return;
    }
    act(*c);
  });
}

void OnForm(std::function<bool(TForm&)> act) {
  Application.Post([act = std::move(act)] {
    TForm* form = Application.ActiveForm();
    if (!form || !act(*form)) ++gDropped;
  });
}

}  // namespace

void Click(const std::string& control) {
  Deliver<TControl>(control, [](TControl& c) { c.Click(); });
}

void Select(const std::string& control, int index) {
  Deliver<TControl>(control, [control, index](TControl& c) {
    if (auto* combo = dynamic_cast<TComboBox*>(&c))
      combo->Select(index);
    else if (auto* group = dynamic_cast<TRadioGroup*>(&c))
      group->Select(index);
    else
      throw std::logic_error(control + " has no items to select");
  });
}

void Drag(const std::string& control, int position) {
  Deliver<TTrackBar>(control, [position](TTrackBar& t) { t.Drag(position); });
}

void PressKey(uint16_t key) {
  OnForm([key](TForm& f) { return f.KeyPress(key); });
}

void CloseWindow() {
  OnForm([](TForm& f) { return f.CloseFromFrame(); });
}

void WhenShown(std::function<void(TForm&)> script) { Application.WhenShown(std::move(script)); }

int Dropped() { return gDropped.load(); }
void Reset() {
  gDropped.store(0);
  Application.ClearScripts();
}

}  // namespace UiDriver
