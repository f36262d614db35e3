#pragma once

#include <string>
#include <vector>

// Where the storage model reports damaged stored data: one line per event. The program passes
// its run log; tests collect the lines.
namespace atlor {

class ILogSink {
 public:
  virtual ~ILogSink() = default;
  // Records one line of text (UTF-8, no line end).
  virtual void WriteLine(const std::string& line) = 0;
  // Told how many stored objects a decode lost to damaged data (after the line that says so).
  virtual void ObjectsLost(int count) { (void)count; }
};

// Forgets every line.
class TNullLogSink final : public ILogSink {
 public:
  void WriteLine(const std::string&) override {}
};

// Keeps every line in order.
class TMemoryLogSink final : public ILogSink {
 public:
  void WriteLine(const std::string& line) override { lines_.push_back(line); }
  const std::vector<std::string>& Lines() const { return lines_; }
  void Clear() { lines_.clear(); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace atlor
