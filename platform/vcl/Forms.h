#pragma once
// Forms shown modally, and the application loop: it serves, in order of
// arrival, the calls that threads hand over to the main thread, their
// termination handlers and the input queued for the forms.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "vcl/Classes.h"
#include "vcl/Controls.h"

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TBorderIcons = unsigned;
constexpr TBorderIcons biSystemMenu = 1;  // the system menu and the close box
constexpr TBorderIcons biMinimize = 2;
constexpr TBorderIcons biMaximize = 4;
constexpr TBorderIcons biHelp = 8;
enum TFormStyle { fsNormal, fsStayOnTop };
enum TPosition { poDesigned, poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter };

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* AOwner);

  int32_t ClientWidth = 0;
  int32_t ClientHeight = 0;
  TColor Color = clBtnFace;
  TBorderStyle BorderStyle = bsSizeable;
  TBorderIcons BorderIcons = biSystemMenu | biMinimize | biMaximize;
  TFormStyle FormStyle = fsNormal;
  TPosition Position = poDesigned;

  // Runs the application loop until the modal result is set; returns it.
  TModalResult ShowModal();
  bool Modal() const { return FModal; }
  // Closing a modal form ends its modal run with mrCancel.
  void Close();
  TModalResult ModalResult = mrNone;

  // Input as the window receives it.
  // Enter presses the default button and Escape the cancel button, if they
  // can take input; returns whether a button was pressed.
  bool KeyPress(uint16_t key);
  // The close box or the system menu's Close; a window without them cannot
  // be closed from its frame. Returns whether the form was closed.
  bool CloseFromFrame();

 private:
  TButton* FindButton(bool TButton::*role) const;
  bool FModal = false;
};

class TApplication {
 public:
  TApplication();

  // Runs every queued call, then returns.
  void ProcessMessages();
  // Runs the next queued call, waiting at most timeoutMs for one.
  // Returns whether a call was run.
  bool HandleMessage(int timeoutMs);
  // Wakes a HandleMessage that waits (safe from any thread).
  void Wake();

  bool IsMainThread() const { return std::this_thread::get_id() == FMainThread; }
  // Makes the calling thread the main thread (start of a program or test).
  void SetMainThread() { FMainThread = std::this_thread::get_id(); }

  // For TThread: queues a call and waits until it has run or was dropped.
  bool SyncCall(TThread* thread, const TThreadMethod& method);
  // For TThread::Abandon.
  void Abandon(TThread* thread);
  // For TThread at the end of its body; returns whether the thread must free itself.
  bool BodyDone(TThread* thread);

  size_t PendingCount();

  // Queues a call for the main thread behind what is queued already (input
  // for the forms comes this way). Safe from any thread. An error the call
  // raises comes out of the HandleMessage that runs it.
  void Post(std::function<void()> call);
  // Runs on the main thread whenever a modal loop finds nothing queued, before it waits.
  std::function<void()> OnIdle;

  // The form whose modal run is innermost, or null.
  TForm* ActiveForm() const { return FModalForms.empty() ? nullptr : FModalForms.back(); }
  // For TForm::ShowModal.
  void BeginModal(TForm* form);
  void EndModal(TForm* form);
  // Runs once, inside the next modal run before any queued input (the UI
  // driver's scripts).
  void WhenShown(std::function<void(TForm&)> script);
  void ClearScripts();

 private:
  enum { kPending, kRan, kDropped };
  struct TEntry {
    TThread* Thread;
    const TThreadMethod* Method;  // a thread's call, or null for a posted one
    int* State;
    std::exception_ptr* Error;
    std::function<void()> Posted;
  };
  std::thread::id FMainThread;
  std::mutex FLock;
  std::condition_variable FQueued;  // main thread: work arrived
  std::condition_variable FRan;     // threads: their call ran or was dropped
  std::deque<TEntry> FQueue;
  bool FWake = false;
  std::vector<TForm*> FModalForms;                    // main thread only
  std::deque<std::function<void(TForm&)>> FScripts;  // main thread only
};

extern TApplication Application;
