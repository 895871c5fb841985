// Typed reads of a row's values, whatever storage class the engine returned them in.
#include "sql_db.h"

namespace vantor {

int64_t SqlRow::i64(size_t column) const {
  const SqlValue& v = values_.at(column);
  if (const auto* i = std::get_if<int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) return static_cast<int64_t>(*d);
  return 0;
}

double SqlRow::real(size_t column) const {
  const SqlValue& v = values_.at(column);
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  return 0.0;
}

std::string SqlRow::text(size_t column) const {
  const SqlValue& v = values_.at(column);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return std::string();
}

Blob SqlRow::blob(size_t column) const {
  const SqlValue& v = values_.at(column);
  if (const auto* b = std::get_if<Blob>(&v)) return *b;
  return Blob();
}

std::optional<int64_t> SqlRow::optI64(size_t column) const {
  if (isNull(column)) return std::nullopt;
  return i64(column);
}

std::optional<double> SqlRow::optReal(size_t column) const {
  if (isNull(column)) return std::nullopt;
  return real(column);
}

}  // namespace vantor
