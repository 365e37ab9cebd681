#include "vcl/Forms.h"

#include <chrono>

TApplication Application;

TApplication::TApplication() : FMainThread(std::this_thread::get_id()) {}

void TApplication::ProcessMessages() {
  while (HandleMessage(0)) {
  }
}

void TApplication::Wake() {
  {
    std::lock_guard<std::mutex> l(FLock);
    FWake = true;
  }
  FQueued.notify_all();
}

bool TApplication::HandleMessage(int timeoutMs) {
  std::unique_lock<std::mutex> l(FLock);
  if (FQueue.empty() && !FWake && timeoutMs > 0)
    FQueued.wait_for(l, std::chrono::milliseconds(timeoutMs), [this] { return !FQueue.empty() || FWake; });
  FWake = false;
  if (FQueue.empty()) return false;
  TEntry e = std::move(FQueue.front());
  FQueue.pop_front();
  l.unlock();
  if (!e.Method) {
    e.Posted();
    return true;
  }
  try {
    (*e.Method)();
  } catch (...) {
    *e.Error = std::current_exception();
  }
  l.lock();
  *e.State = kRan;
  FRan.notify_all();
  return true;
}

bool TApplication::SyncCall(TThread* thread, const TThreadMethod& method) {
  int state = kPending;
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> l(FLock);
    if (thread->FAbandoned) return false;
    FQueue.push_back({thread, &method, &state, &error, {}});
    FQueued.notify_all();
    FRan.wait(l, [&] { return state != kPending; });
  }
  if (error) std::rethrow_exception(error);
  return state == kRan;
}

void TApplication::Abandon(TThread* thread) {
  bool freeHere;
  {
    std::lock_guard<std::mutex> l(FLock);
    thread->FAbandoned = true;
    for (auto it = FQueue.begin(); it != FQueue.end();) {
      if (it->Thread == thread) {
        *it->State = kDropped;
        it = FQueue.erase(it);
      } else {
        ++it;
      }
    }
    freeHere = thread->FBodyDone;
  }
  FRan.notify_all();
  if (freeHere) delete thread;
}

bool TApplication::BodyDone(TThread* thread) {
  std::lock_guard<std::mutex> l(FLock);
  thread->FBodyDone = true;
  return thread->FAbandoned || thread->FreeOnTerminate;
}

size_t TApplication::PendingCount() {
  std::lock_guard<std::mutex> l(FLock);
  return FQueue.size();
}

void TApplication::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> l(FLock);
    FQueue.push_back({nullptr, nullptr, nullptr, nullptr, std::move(call)});
  }
  FQueued.notify_all();
}

void TApplication::BeginModal(TForm* form) {
  FModalForms.push_back(form);
  if (!FScripts.empty()) {
    auto script = std::move(FScripts.front());
    FScripts.pop_front();
    script(*form);
  }
}

void TApplication::EndModal(TForm* form) { std::erase(FModalForms, form); }

void TApplication::WhenShown(std::function<void(TForm&)> script) { FScripts.push_back(std::move(script)); }

void TApplication::ClearScripts() { FScripts.clear(); }

// ---- forms

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {}

TModalResult TForm::ShowModal() {
  ModalResult = mrNone;
  Visible = true;
  FModal = true;
  struct TEnd {
    TForm* Form;
    ~TEnd() {
      Application.EndModal(Form);
      Form->FModal = false;
      Form->Visible = false;  // a modal form is hidden when its run ends
    }
  } end{this};
  Application.BeginModal(this);
  while (ModalResult == mrNone) {
    if (Application.HandleMessage(0)) continue;
    // Nothing queued: idle work first, then wait for what comes.
    if (Application.OnIdle) {
      Application.OnIdle();
      if (ModalResult != mrNone) break;
    }
    Application.HandleMessage(50);
  }
  return ModalResult;
}

void TForm::Close() {
  if (FModal) ModalResult = mrCancel;
  Visible = false;
}

TButton* TForm::FindButton(bool TButton::*role) const {
  // Depth first over the controls, so buttons inside panels count too.
  std::vector<const TWinControl*> stack{this};
  while (!stack.empty()) {
    const TWinControl* w = stack.back();
    stack.pop_back();
    for (TControl* c : w->Controls()) {
      if (auto* b = dynamic_cast<TButton*>(c); b && b->*role && b->CanTakeInput()) return b;
      if (auto* sub = dynamic_cast<TWinControl*>(c)) stack.push_back(sub);
    }
  }
  return nullptr;
}

bool TForm::KeyPress(uint16_t key) {
  TButton* b = nullptr;
  if (key == VK_RETURN) b = FindButton(&TButton::Default);
  if (key == VK_ESCAPE) b = FindButton(&TButton::Cancel);
  if (!b) return false;
  b->Click();
  return true;
}

bool TForm::CloseFromFrame() {
  if (!(BorderIcons & biSystemMenu) || BorderStyle == bsNone) return false;
  Close();
  return true;
}
