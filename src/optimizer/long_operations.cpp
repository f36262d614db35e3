#include "optimizer/long_operations.h"

#include <vector>

namespace atlor {
namespace {

struct BusyState {
  IBusyWindow* window = nullptr;   // where the texts are shown
  bool open = false;               // the window exists
  std::string operation_name = "Процесс идет...";
  std::vector<std::string> stack;  // texts of the enclosing levels
};

BusyState& State() {
  static BusyState state;
  return state;
}

}  // namespace

void SetBusyWindow(IBusyWindow* window) { State().window = window; }

void BeginLongOperation(const std::string& text) {
  BusyState& s = State();
  if (!s.open) {
    s.open = true;
    s.operation_name = "Процесс идет...";
  }
  s.stack.push_back(s.operation_name);
  if (s.stack.size() == 1) {
    s.operation_name.clear();
    if (s.window) s.window->Show();
  }
  s.operation_name = text;
  if (s.window) s.window->SetText(text);
}

void EndLongOperation() {
  BusyState& s = State();
  if (!s.open || s.stack.empty()) return;
  std::string popped = std::move(s.stack.back());
  s.stack.pop_back();
  if (!s.stack.empty()) {
    s.operation_name = std::move(popped);
    if (s.window) s.window->SetText(s.operation_name);
  } else {
    s.open = false;
    s.operation_name.clear();
    if (s.window) s.window->Close();
  }
}

std::string LongOperationText() { return State().open ? State().operation_name : std::string(); }

int LongOperationDepth() { return static_cast<int>(State().stack.size()); }

}  // namespace atlor
