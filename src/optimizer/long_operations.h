#pragma once

#include <string>

#include "optimizer/optimizer_view.h"

// The busy window's text stack. Uses nest: each BeginLongOperation is paired with an
// EndLongOperation in a final block; leaving an inner level shows the enclosing level's text again
// and leaving the outermost closes the window.
namespace atlor {

// Where the busy window appears; none (the default) keeps only the text stack.
void SetBusyWindow(IBusyWindow* window);

void BeginLongOperation(const std::string& text);
void EndLongOperation();

// The text the busy window shows now ("" when it is closed) and the nesting depth.
std::string LongOperationText();
int LongOperationDepth();

// Pairs Begin and End for a scope.
class LongOperation {
 public:
  explicit LongOperation(const std::string& text) { BeginLongOperation(text); }
  LongOperation(const LongOperation&) = delete;
  LongOperation& operator=(const LongOperation&) = delete;
  ~LongOperation() { EndLongOperation(); }
};

}  // namespace atlor
