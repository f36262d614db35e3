// atlor-optimize: rebuilds the sector trees of an Atlor database from a terminal.
//
//   atlor-optimize [параметры] ДРАЙВЕР [имя=значение ...]
//   atlor-optimize [параметры] --description ФАЙЛ
//   atlor-optimize --list-drivers
//
// The run is the same as the desktop window's: its message boxes become questions (answered by
// options when there is no terminal), its progress bars a line redrawn in place, and Ctrl-C is
// the Stop button.

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/exception.h"
#include "core/ref_object.h"
#include "optimizer/long_operations.h"
#include "optimizer/optimizer_run.h"
#include "optimizer/run_log.h"
#include "storage/atlor_base.h"
#include "tools/cli_common.h"

namespace atlor::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

const char* kHelp =
    "Использование:\n"
    "  atlor-optimize [параметры] ДРАЙВЕР [имя=значение ...]\n"
    "  atlor-optimize [параметры] --description ФАЙЛ\n"
    "  atlor-optimize --list-drivers\n"
    "\n"
    "Перестраивает деревья секторов всех слоёв базы ГИС Atlor и таблицу размещения\n"
    "объектов, затем подменяет ими рабочие таблицы. При ошибке рабочие таблицы\n"
    "остаются прежними.\n"
    "\n"
    "База открывается через диспетчер драйверов: ДРАЙВЕР - имя драйвера (например,\n"
    "SQLITE или BDE.Paradox), за ним параметры подключения, например:\n"
    "  atlor-optimize SQLITE file=base.sqlite\n"
    "  atlor-optimize BDE.Paradox folder=/data/atlor\n"
    "Вместо драйвера и параметров можно указать файл описания подключения (XML).\n"
    "\n"
    "Параметры:\n"
    "  --yes           ответить \"Да\" на предупреждение о резервной копии\n"
    "  --keep-old      сохранить прежние таблицы под именами *_OLD\n"
    "  --drop-old      удалить прежние таблицы после замены\n"
    "  --quiet         не показывать ход работы\n"
    "  --list-drivers  показать доступные драйверы\n"
    "  --help          эта справка\n"
    "\n"
    "Без терминала на вопросы отвечают только параметры: нужны --yes и один из\n"
    "--keep-old / --drop-old, иначе программа завершается, ничего не изменив.\n"
    "Ctrl-C прерывает работу: временные таблицы удаляются, рабочие не меняются.\n"
    "Журнал пишется в файл atlor-optimize.log в текущем каталоге.\n"
    "\n"
    "Коды завершения: 0 - готово, 1 - ошибка, 2 - ошибка в командной строке,\n"
    "3 - база не принята (нет ATLOR_DBINFO или другая версия), 4 - прервано.\n";

struct Options {
  bool yes = false;
  bool keep_old = false;
  bool drop_old = false;
  bool quiet = false;
  bool list_drivers = false;
  bool help = false;
  std::string description_file;
  std::vector<std::string> positional;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--yes") {
      o.yes = true;
    } else if (arg == "--keep-old") {
      o.keep_old = true;
    } else if (arg == "--drop-old") {
      o.drop_old = true;
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--list-drivers") {
      o.list_drivers = true;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--description") {
      if (++i >= argc) throw UsageError("после --description нужен файл");
      o.description_file = argv[i];
    } else if (arg.rfind("--", 0) == 0) {
      throw UsageError("неизвестный параметр " + arg);
    } else {
      o.positional.push_back(arg);
    }
  }
  if (o.keep_old && o.drop_old) throw UsageError("--keep-old и --drop-old исключают друг друга");
  return o;
}

// The run's window on a terminal.
class TerminalView final : public IOptimizerView, public IBusyWindow {
 public:
  TerminalView(const Options& options, bool interactive)
      : options_(options), interactive_(interactive), redraw_(isatty(STDERR_FILENO) != 0) {}

  void SetRun(TOptimizerRun* run) { run_ = run; }

  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    ClearLine();
    const std::string shown = TerminalText(text);
    const uint32_t buttons = flags & mb::kButtonsMask;
    if (buttons == mb::kYesNo) {
      if (const int answer = OptionAnswer(shown); answer != 0) return answer;
      std::cerr << caption << ": " << shown << " [д/Н] " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) return mb::kIdNo;
      line = TrimText(line);
      return (line == "y" || line == "Y" || line == "д" || line == "Д" || line == "да" ||
              line == "Да" || line == "yes")
                 ? mb::kIdYes
                 : mb::kIdNo;
    }
    const bool error = (flags & mb::kIconMask) == mb::kIconError;
    (error ? std::cerr : std::cout) << shown << std::endl;
    return buttons == mb::kOkCancel ? mb::kIdCancel : mb::kIdOk;
  }

  void ShowProgress(const ProgressState& state) override {
    if (options_.quiet) return;
    if (!redraw_) {
      // Plain lines: one per phase and per layer.
      if (state.info_text != last_info_ && !state.info_text.empty())
        std::cout << state.info_text << std::endl;
      if (state.sub_visible && state.sub_text != last_sub_ && !state.sub_text.empty())
        std::cout << "  " << state.sub_text << std::endl;
      last_info_ = state.info_text;
      last_sub_ = state.sub_text;
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool changed = state.info_text != last_info_ || state.sub_text != last_sub_;
    if (!changed && now - last_draw_ < std::chrono::milliseconds(100)) return;
    last_draw_ = now;
    last_info_ = state.info_text;
    last_sub_ = state.sub_text;
    std::string line = title_ + "  " + Bar(state.position, state.maximum);
    if (state.sub_visible)
      line += "  " + Utf8Prefix(state.sub_text, 40) + " " + Bar(state.sub_position, state.sub_maximum);
    std::cerr << "\r\x1b[K" << line << std::flush;
    drawn_ = true;
  }

  void SetTitle(const std::string& title) override { title_ = title; }
  void SetButtons(bool, bool, bool) override {}
  void SetHourglass(bool) override {}

  void ProcessMessages() override {
    if (g_interrupted && run_ && !run_->Stopped()) {
      ClearLine();
      std::cerr << "Прерывание: работа будет остановлена после текущего шага" << std::endl;
      run_->RequestStop();
    }
  }

  // The busy window: its text on the progress line.
  void Show() override {}
  void SetText(const std::string& text) override {
    if (options_.quiet || text.empty()) return;
    ClearLine();
    std::cerr << text << "..." << std::endl;
  }
  void Close() override {}

  void ClearLine() {
    if (drawn_) std::cerr << "\r\x1b[K" << std::flush;
    drawn_ = false;
  }

 private:
  // The answer an option gives to a question, or 0.
  int OptionAnswer(const std::string& text) const {
    if (text.find("резервную копию") != std::string::npos && options_.yes) return mb::kIdYes;
    if (text.find("Сохранить старые копии") != std::string::npos) {
      if (options_.keep_old) return mb::kIdYes;
      if (options_.drop_old) return mb::kIdNo;
    }
    if (!interactive_) return mb::kIdNo;  // checked before the run: never reached unanswered
    return 0;
  }

  static std::string Bar(int position, int maximum) {
    constexpr int kWidth = 20;
    const int filled = maximum > 0 ? static_cast<int>(static_cast<long long>(position) * kWidth / maximum) : 0;
    std::string bar = "[";
    for (int i = 0; i < kWidth; ++i) bar += i < filled ? "#" : ".";
    return bar + "]";
  }

  const Options& options_;
  bool interactive_;
  bool redraw_;
  bool drawn_ = false;
  TOptimizerRun* run_ = nullptr;
  std::string title_ = "Оптимизатор";
  std::string last_info_, last_sub_;
  std::chrono::steady_clock::time_point last_draw_{};
};

// A table cell padded to `width` characters (not bytes: the names are Cyrillic).
std::string Cell(const std::string& text, size_t width, bool right) {
  const std::string cut = Utf8Prefix(text, width);
  const std::string pad(width - Utf8Length(cut), ' ');
  return right ? pad + cut : cut + pad;
}

void PrintSummary(const std::vector<TLayerSummary>& summary) {
  if (summary.empty()) {
    std::cout << "Слоёв нет." << std::endl;
    return;
  }
  struct Column {
    const char* head1;
    const char* head2;
    size_t width;
  };
  const Column columns[] = {{"Слой", "", 24},          {"Объектов", "", 9},
                            {"Секторов", "было", 9},   {"Секторов", "стало", 9},
                            {"Глубина", "", 8},        {"Макс. в", "секторе", 9},
                            {"Потеряно", "", 9}};
  std::string head1, head2;
  for (const Column& c : columns) {
    const bool first = &c == &columns[0];
    head1 += (first ? "" : " ") + Cell(c.head1, c.width, !first);
    head2 += (first ? "" : " ") + Cell(c.head2, c.width, !first);
  }
  std::cout << head1 << "\n" << head2 << "\n";
  for (const TLayerSummary& s : summary) {
    const int numbers[] = {s.Objects, s.OldSectors, s.NewSectors, s.Depth, s.LargestSector,
                           s.LostObjects};
    std::string line = Cell(s.LayerName.empty() ? s.LayerId : s.LayerName, columns[0].width, false);
    for (size_t i = 0; i < 6; ++i) line += " " + Cell(std::to_string(numbers[i]), columns[i + 1].width, true);
    std::cout << line << "\n";
  }
  std::cout << std::flush;
}

int Run(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const UsageError& e) {
    return ReportUsageError("atlor-optimize", e);
  }
  if (options.help) {
    std::cout << kHelp;
    return kExitOk;
  }

  ProgramServices services;
  if (options.list_drivers) {
    PrintDrivers();
    return kExitOk;
  }

  ConnectionArgs connection;
  const bool interactive = isatty(STDIN_FILENO) != 0;
  try {
    connection = ParseConnection(options.positional, options.description_file);
    if (!interactive && (!options.yes || (!options.keep_old && !options.drop_old)))
      throw UsageError(
          "без терминала на вопросы отвечают параметры: укажите --yes и --keep-old или "
          "--drop-old");
  } catch (const UsageError& e) {
    return ReportUsageError("atlor-optimize", e);
  }

  TerminalView view(options, interactive);
  SetBusyWindow(&view);
  struct BusyReset {
    ~BusyReset() { SetBusyWindow(nullptr); }
  } busy_reset;

  IntfPtr<IArDb> db;
  try {
    db = OpenConnection(connection);
  } catch (const std::exception& e) {
    std::cerr << "Ошибка: " << e.what() << std::endl;
    return kExitFailed;
  }

  std::string caption;
  if (!CheckDatabaseVersion(*db, caption, view)) return kExitRefused;
  if (!options.quiet) std::cout << "База данных: " << caption << std::endl;

  TAtlorBase* base = nullptr;
  RefAssign(base, new TAtlorBase(db, RunLogSink()));
  struct BaseRelease {
    TAtlorBase*& base;
    ~BaseRelease() {
      if (base) RefFree(base);
    }
  } base_release{base};

  TOptimizerRun run(*db, *base, view);
  view.SetRun(&run);
  std::signal(SIGINT, OnInterrupt);
  RunOutcome outcome;
  try {
    outcome = run.StartClick();
  } catch (const std::exception& e) {
    view.ClearLine();
    std::cerr << "Ошибка: " << e.what() << std::endl;
    return kExitFailed;
  }
  std::signal(SIGINT, SIG_DFL);
  view.ClearLine();
  // Closing writes out whatever a back-end still holds; its failure is the run's failure.
  try {
    RefFree(base);
    db->Close();
  } catch (const std::exception& e) {
    std::cerr << "Ошибка: " << e.what() << std::endl;
    return kExitFailed;
  }

  switch (outcome) {
    case RunOutcome::kNotStarted:
      return kExitStopped;
    case RunOutcome::kFinished:
      PrintSummary(run.Summary());
      return kExitOk;
    case RunOutcome::kStopped:
      return kExitStopped;
    case RunOutcome::kFailed:
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace
}  // namespace atlor::cli

int main(int argc, char** argv) { return atlor::cli::RunProgram(atlor::cli::Run, argc, argv); }
