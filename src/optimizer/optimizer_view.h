#pragma once

#include <cstdint>
#include <string>

// What the optimizer run needs of its window. The run knows no GUI toolkit: the desktop window,
// the command line and the tests each implement this interface.
namespace atlor {

// Message box flags and answers (the values of the classic desktop message boxes).
namespace mb {
constexpr uint32_t kOk = 0x0;
constexpr uint32_t kOkCancel = 0x1;
constexpr uint32_t kYesNo = 0x4;
constexpr uint32_t kIconError = 0x10;
constexpr uint32_t kIconQuestion = 0x20;
constexpr uint32_t kIconWarning = 0x30;
constexpr uint32_t kIconInformation = 0x40;
constexpr uint32_t kTopmost = 0x40000;
constexpr uint32_t kButtonsMask = 0xF;
constexpr uint32_t kIconMask = 0xF0;

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
}  // namespace mb

// The run's progress display: a main bar with its label, a second bar with its label that can be
// hidden, and the application title.
struct ProgressState {
  std::string info_text;  // the label above the main bar
  int position = 0;
  int maximum = 0;
  std::string sub_text;  // the label above the second bar
  int sub_position = 0;
  int sub_maximum = 0;
  bool sub_visible = false;
};

class IOptimizerView {
 public:
  virtual ~IOptimizerView() = default;

  // Shows a message box and returns the answer (mb::kIdOk, kIdCancel, kIdYes or kIdNo).
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) = 0;
  // The progress display changed.
  virtual void ShowProgress(const ProgressState& state) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // Which of Start, Stop and Open may be pressed.
  virtual void SetButtons(bool start_enabled, bool stop_enabled, bool open_enabled) = 0;
  // The hourglass cursor on or off.
  virtual void SetHourglass(bool busy) = 0;
  // Lets the window handle pending events; a Stop request arrives here.
  virtual void ProcessMessages() = 0;
};

// The busy window that names the lengthy table operation in progress.
class IBusyWindow {
 public:
  virtual ~IBusyWindow() = default;
  // Shows the window (it was hidden).
  virtual void Show() = 0;
  // Shows text in the window and repaints it at once.
  virtual void SetText(const std::string& text) = 0;
  // Closes the window.
  virtual void Close() = 0;
};

}  // namespace atlor
