// The query dataset: parameters found in the text, and the statement run by the engine's SQL
// layer.

#include <cctype>

#include "backends/paradox/bde/bde_components.h"
#include "core/encoding.h"

namespace atlor::bde {

namespace {

bool IsNameChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || u >= 0x80;
}

}  // namespace

std::vector<std::string> TQuery::ParseParamNames(std::string_view text) {
  std::vector<std::string> names;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      continue;
    }
    if (c != ':') continue;
    if (i + 1 < text.size() && text[i + 1] == ':') {  // "::" stands for a colon
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    if (end > i + 1) names.emplace_back(text.substr(i + 1, end - i - 1));
    i = end - 1;
  }
  return names;
}

TParam& TQuery::Params(int index) {
  if (index < 0 || index >= ParamCount()) throw EBdeError("Parameter index out of range");
  return params_[static_cast<size_t>(index)];
}

TParam* TQuery::FindParam(std::string_view name) {
  for (TParam& p : params_)
    if (SameTextAscii(p.Name(), name)) return &p;
  return nullptr;
}

void TQuery::AssignParams(const TQuery& other) { params_ = other.params_; }

}  // namespace atlor::bde

namespace atlor::bde {

struct TQueryStatement {};

TQuery::TQuery() = default;
TQuery::~TQuery() {
  try {
    Close();
  } catch (...) {
  }
  UnPrepare();
}

void TQuery::SetSQL(const std::string& text) {
  Close();
  UnPrepare();
  sql_ = text;
  params_.clear();
  if (param_check_)
    for (const std::string& name : ParseParamNames(text)) params_.emplace_back(name);
}

void TQuery::Prepare() { throw EBdeError("Local SQL is not available"); }
void TQuery::UnPrepare() { statement_.reset(); }
bool TQuery::Prepared() const { return statement_ != nullptr; }
void TQuery::ExecSQL() { throw EBdeError("Local SQL is not available"); }
void TQuery::InternalOpen() { throw EBdeError("Local SQL is not available"); }
void TQuery::InternalClose() {}
bool TQuery::InternalEof() const { return true; }
void TQuery::InternalNext() {}
Value TQuery::FieldValue(int) const { return Value::Null(); }
void TQuery::DatabaseClosing() {
  Close();
  UnPrepare();
  DetachFromDatabase();
}
void TQuery::Bind() {}

}  // namespace atlor::bde
