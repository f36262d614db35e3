// atlor-sample: creates a new Atlor database filled with generated map objects.
//
//   atlor-sample [параметры] ДРАЙВЕР [имя=значение ...]
//   atlor-sample [параметры] --description ФАЙЛ
//   atlor-sample --list-drivers
//
// The driver creates the empty database ("create-database" request; an existing one is never
// overwritten), then the program creates the system tables and fills them (sample_generator.h).

#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/exception.h"
#include "tools/cli_common.h"
#include "tools/sample_generator.h"

namespace atlor::cli {
namespace {

using sample::TDamageKind;
using sample::TSampleOptions;
using sample::TTreeShape;

const char* kHelp =
    "Использование:\n"
    "  atlor-sample [параметры] ДРАЙВЕР [имя=значение ...]\n"
    "  atlor-sample [параметры] --description ФАЙЛ\n"
    "  atlor-sample --list-drivers\n"
    "\n"
    "Создаёт новую базу ГИС Atlor с придуманными картами: все 24 системные таблицы,\n"
    "ATLOR_DBINFO с версией 265, районы, карты, слои, стили, деревья секторов с\n"
    "объектами (многоугольники, ломаные с дугами, окружности, точки, прямоугольники) и\n"
    "таблицу размещения объектов. Одно и то же зерно даёт одну и ту же базу.\n"
    "\n"
    "База создаётся драйвером (это умеют SQLITE и BDE.Paradox) и не должна существовать:\n"
    "существующая база не перезаписывается. Например:\n"
    "  atlor-sample --seed 1 --layers 3 --objects 1000 SQLITE file=demo.sqlite\n"
    "  atlor-sample --seed 1 --layers 3 --objects 1000 BDE.Paradox folder=demo\n"
    "\n"
    "Параметры:\n"
    "  --seed N          зерно (0..4294967295, по умолчанию 1)\n"
    "  --maps N          число карт (по умолчанию 1); слои раздаются картам по очереди\n"
    "  --layers N        число слоёв (по умолчанию 3)\n"
    "  --objects N       число объектов во всех слоях вместе (по умолчанию 1000);\n"
    "                    делится между слоями поровну, остаток - первым слоям\n"
    "  --versions СПИСОК версии формата объектов сектора через запятую (256..65535,\n"
    "                    по умолчанию 286); секторы получают их по очереди. 286 - текущая;\n"
    "                    до 264 у фигур есть код стиля, 256 - без заголовка\n"
    "  --tree ВИД        дерево секторов: root (всё в переполненном корне; сверх 32767\n"
    "                    объектов - в его четвертях), deep (глубокое и плохо разбитое),\n"
    "                    good (как после оптимизации), mixed (по умолчанию: root, deep,\n"
    "                    good по очереди слоёв)\n"
    "  --damage СПИСОК   добавить повреждённые данные, через запятую или all:\n"
    "                      header     испорченный заголовок сектора (объекты сектора\n"
    "                                 теряются)\n"
    "                      id         объект с неверным идентификатором\n"
    "                      truncated  обрезанный объект\n"
    "                      contour    объект с неверным упакованным контуром (нужен\n"
    "                                 сектор версии 262 или новее)\n"
    "                      noshapes   объект без контуров\n"
    "                      duplicate  объект записан дважды в сектор и ещё раз в корень\n"
    "                    каждое повреждение - в своём секторе; у добавленных\n"
    "                    повреждённых объектов нет строк в ATLOR_OBJINFO\n"
    "  --caption ТЕКСТ   заголовок базы (DBCAPTION)\n"
    "  --quiet           не показывать ход работы и итог\n"
    "  --list-drivers    показать доступные драйверы\n"
    "  --help            эта справка\n"
    "\n"
    "Коды завершения: 0 - готово, 1 - ошибка (в том числе база уже существует),\n"
    "2 - ошибка в командной строке.\n";

struct Options {
  TSampleOptions sample;
  bool quiet = false;
  bool list_drivers = false;
  bool help = false;
  std::string description_file;
  std::vector<std::string> positional;
};

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item = TrimText(text.substr(start, comma - start));
    if (!item.empty()) items.push_back(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

// A whole decimal number within lo..hi, or a usage error naming the option.
long long Number(const std::string& option, const std::string& text, long long lo, long long hi) {
  size_t used = 0;
  long long value = 0;
  bool ok = !text.empty() && text[0] != '-' && text[0] != '+';
  if (ok) {
    try {
      value = std::stoll(text, &used, 10);
    } catch (const std::exception&) {
      ok = false;
    }
  }
  if (!ok || used != text.size() || value < lo || value > hi)
    throw UsageError("значение " + option + " должно быть целым числом от " + std::to_string(lo) +
                     " до " + std::to_string(hi) + ": \"" + text + "\"");
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  auto value_of = [&](int& i, const std::string& option) -> std::string {
    if (++i >= argc) throw UsageError("после " + option + " нужно значение");
    return argv[i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seed") {
      o.sample.Seed = static_cast<uint32_t>(
          Number(arg, value_of(i, arg), 0, std::numeric_limits<uint32_t>::max()));
    } else if (arg == "--maps") {
      o.sample.Maps = static_cast<int>(Number(arg, value_of(i, arg), 1, 1000));
    } else if (arg == "--layers") {
      o.sample.Layers = static_cast<int>(Number(arg, value_of(i, arg), 0, 10000));
    } else if (arg == "--objects") {
      o.sample.Objects = static_cast<int>(Number(arg, value_of(i, arg), 0, 10'000'000));
    } else if (arg == "--versions") {
      o.sample.Versions.clear();
      for (const std::string& item : SplitList(value_of(i, arg)))
        o.sample.Versions.push_back(static_cast<int>(
            Number(arg, item, sample::kSampleMinVersion, sample::kSampleMaxVersion)));
      if (o.sample.Versions.empty()) throw UsageError("список --versions пуст");
    } else if (arg == "--tree") {
      const std::string text = value_of(i, arg);
      if (!sample::ParseTreeShape(text, o.sample.Tree))
        throw UsageError("неизвестный вид дерева \"" + text + "\" (root, deep, good, mixed)");
    } else if (arg == "--damage") {
      o.sample.Damage.clear();
      for (const std::string& item : SplitList(value_of(i, arg))) {
        if (item == "all") {
          for (int k = 0; k < sample::kDamageKindCount; ++k)
            o.sample.Damage.push_back(static_cast<TDamageKind>(k));
          continue;
        }
        TDamageKind kind;
        if (!sample::ParseDamageKind(item, kind))
          throw UsageError("неизвестное повреждение \"" + item +
                           "\" (header, id, truncated, contour, noshapes, duplicate, all)");
        o.sample.Damage.push_back(kind);
      }
    } else if (arg == "--caption") {
      o.sample.Caption = value_of(i, arg);
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--list-drivers") {
      o.list_drivers = true;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--description") {
      o.description_file = value_of(i, arg);
    } else if (arg.rfind("--", 0) == 0) {
      throw UsageError("неизвестный параметр " + arg);
    } else {
      o.positional.push_back(arg);
    }
  }
  try {
    sample::CheckOptions(o.sample);
  } catch (const sample::ESampleOptionsError& e) {
    throw UsageError(e.what());
  }
  return o;
}

// Text padded with blanks to a width in characters (left-aligned, or right-aligned).
std::string Padded(const std::string& text, size_t width, bool right = false) {
  std::string out = Utf8Prefix(text, width);
  const std::string fill(width - std::min(width, Utf8Length(out)), ' ');
  return right ? fill + out : out + fill;
}

void PrintReport(const sample::TSampleReport& report) {
  std::cout << "База данных: " << report.Caption << "\n"
            << "Объектов: " << report.Objects << ", секторов: " << report.Sectors
            << ", последний идентификатор: " << report.LastId.Str() << "\n";
  if (!report.Layers.empty()) {
    std::cout << Padded("Слой", 16) << " " << Padded("Дерево", 6) << Padded("Объектов", 10, true)
              << Padded("Секторов", 10, true) << Padded("Глубина", 9, true)
              << Padded("Макс. в секторе", 17, true) << "\n";
    for (const sample::TLayerReport& l : report.Layers)
      std::cout << Padded(l.Name, 16) << " " << Padded(std::string(TreeShapeName(l.Tree)), 6)
                << Padded(std::to_string(l.Objects), 10, true)
                << Padded(std::to_string(l.Sectors), 10, true)
                << Padded(std::to_string(l.Depth), 9, true)
                << Padded(std::to_string(l.LargestSector), 17, true) << "\n";
  }
  for (const sample::TDamageReport& d : report.Damage) {
    std::cout << "Повреждение " << DamageKindName(d.Kind) << ": сектор " << d.SectorId.Str()
              << " (версия " << d.Version << ")";
    if (!d.ObjectId.empty()) std::cout << ", объект " << d.ObjectId;
    if (!d.OtherSectorId.Empty()) std::cout << ", копия в секторе " << d.OtherSectorId.Str();
    if (d.LostObjects > 0) std::cout << ", теряется объектов: " << d.LostObjects;
    std::cout << "\n";
  }
  std::cout << std::flush;
}

int Run(int argc, char** argv) {
  Options options;
  ConnectionArgs connection;
  try {
    options = ParseOptions(argc, argv);
    if (!options.help && !options.list_drivers)
      connection = ParseConnection(options.positional, options.description_file);
  } catch (const UsageError& e) {
    return ReportUsageError("atlor-sample", e);
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

  if (!options.quiet)
    options.sample.Progress = [](const std::string& text) { std::cerr << text << std::endl; };
  // Planned before the database is made: options that do not fit leave nothing behind.
  std::unique_ptr<sample::TSampleGenerator> generator;
  try {
    generator = std::make_unique<sample::TSampleGenerator>(options.sample);
  } catch (const sample::ESampleOptionsError& e) {
    return ReportUsageError("atlor-sample", e);
  }
  try {
    CreateDatabase(connection);
  } catch (const std::exception& e) {
    std::cerr << "Ошибка: база данных не создана: " << e.what() << std::endl;
    return kExitFailed;
  }
  try {
    IntfPtr<IArDb> db = OpenConnection(connection);
    generator->Write(*db);
    db->Close();
    if (!options.quiet) PrintReport(generator->Report());
  } catch (const std::exception& e) {
    std::cerr << "Ошибка: " << e.what()
              << "\nБаза данных создана, но не заполнена; удалите её перед новой попыткой."
              << std::endl;
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace
}  // namespace atlor::cli

int main(int argc, char** argv) { return atlor::cli::RunProgram(atlor::cli::Run, argc, argv); }
