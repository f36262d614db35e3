#include "optimizer/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "core/exception.h"
#include "core/platform.h"

namespace atlor {
namespace {

constexpr char kLineEnd[] = "\r\n";

std::mutex g_run_log_mutex;
std::unique_ptr<TLogFile> g_run_log;

// Writes all of text to fd; false when the system refuses part of it.
bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

class TRunLogSink final : public ILogSink {
 public:
  void WriteLine(const std::string& line) override { WriteLog(line); }
};

}  // namespace

TLogFile::TLogFile(std::string file_name, int options) : file_name_(std::move(file_name)) {
  if (options & kDeleteExisting) std::remove(file_name_.c_str());
}

void TLogFile::Write(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(line);
  }
  Flush();
}

void TLogFile::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) return;
  const int fd = ::open(file_name_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;  // the lines wait for the next flush
  while (!pending_.empty()) {
    if (!WriteAll(fd, pending_.front() + kLineEnd)) break;
    pending_.pop_front();
  }
  ::close(fd);
}

size_t TLogFile::PendingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_.size();
}

std::string DefaultRunLogFileName() {
  std::string name = ExtractFileName(ExecutableFileName());
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name + ".log";
}

TLogFile& RunLog() {
  std::lock_guard<std::mutex> lock(g_run_log_mutex);
  if (!g_run_log) g_run_log = std::make_unique<TLogFile>(DefaultRunLogFileName());
  return *g_run_log;
}

void SetRunLogFile(const std::string& file_name, int options) {
  auto log = std::make_unique<TLogFile>(file_name, options);
  std::lock_guard<std::mutex> lock(g_run_log_mutex);
  g_run_log = std::move(log);
}

void WriteLog(const std::string& line) { RunLog().Write(line); }

std::string FormatLogLine(std::string_view pattern, std::initializer_list<TLogArg> args) {
  const auto invalid = [&]() -> EConvertError {
    return EConvertError("Format '" + std::string(pattern) +
                         "' invalid or incompatible with argument");
  };
  std::string out;
  out.reserve(pattern.size() + 32);
  auto arg = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (++i >= pattern.size()) throw invalid();
    const char directive = pattern[i];
    if (directive == '%') {
      out.push_back('%');
      continue;
    }
    if (arg == args.end()) throw invalid();
    if (directive == 's' && !arg->IsNumber())
      out += arg->Text();
    else if (directive == 'd' && arg->IsNumber())
      out += std::to_string(arg->Number());
    else
      throw invalid();
    ++arg;
  }
  return out;
}

ILogSink& RunLogSink() {
  static TRunLogSink sink;
  return sink;
}

}  // namespace atlor
