#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

#include "storage/log_sink.h"

// The run log: one line of text per event (every run, its errors, every damaged sector found
// while decoding), appended to a file in the current directory. Lines are written as given,
// without time stamps, each ended by CR LF. A file that cannot be written never stops the
// program: its lines wait in memory and go out with the next successful flush.
namespace atlor {

class TLogFile {
 public:
  // Options bit 0: delete an existing file first. The program continues its log (options 0).
  static constexpr int kDeleteExisting = 1;

  explicit TLogFile(std::string file_name, int options = 0);
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Appends line to the pending lines and flushes.
  void Write(const std::string& line);
  // Appends the pending lines to the file, oldest first, until one cannot be written; those
  // left stay pending.
  void Flush();

  const std::string& FileName() const { return file_name_; }
  size_t PendingCount() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> pending_;
  std::string file_name_;
};

// The name of the program's log: the program file's name (no folder) with the extension
// ".log", relative, so the file lies in the current directory.
std::string DefaultRunLogFileName();
// The run log of the process, created on first use with DefaultRunLogFileName().
TLogFile& RunLog();
// Replaces the run log of the process by a new one (tests point it at a temporary file); the
// lines still pending in the old one are lost, as at exit.
void SetRunLogFile(const std::string& file_name, int options = 0);

void WriteLog(const std::string& line);

// One argument of a formatted line: text for %s, a whole number for %d.
class TLogArg {
 public:
  TLogArg(const std::string& s) : text_(s), is_number_(false) {}
  TLogArg(std::string_view s) : text_(s), is_number_(false) {}
  TLogArg(const char* s) : text_(s ? s : ""), is_number_(false) {}
  TLogArg(int v) : number_(v), is_number_(true) {}
  TLogArg(long v) : number_(v), is_number_(true) {}
  TLogArg(long long v) : number_(v), is_number_(true) {}
  TLogArg(unsigned v) : number_(v), is_number_(true) {}

  bool IsNumber() const { return is_number_; }
  const std::string& Text() const { return text_; }
  int64_t Number() const { return number_; }

 private:
  std::string text_;
  int64_t number_ = 0;
  bool is_number_;
};

// Formats the arguments into the pattern: %s takes text, %d a number, %% is a percent sign.
// A directive without its argument, of the wrong kind, or unknown raises EConvertError
// "Format '<pattern>' invalid or incompatible with argument".
std::string FormatLogLine(std::string_view pattern, std::initializer_list<TLogArg> args);

template <class... Args>
void WriteLogFmt(std::string_view pattern, const Args&... args) {
  WriteLog(FormatLogLine(pattern, {TLogArg(args)...}));
}

// The run log as a sink for the storage model's damaged-data lines.
ILogSink& RunLogSink();

}  // namespace atlor
