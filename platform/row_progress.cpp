#include "platform/row_progress.h"

#include <cmath>

namespace platform {
namespace {

thread_local RowProgress* listener = nullptr;

}  // namespace

RowProgressScope::RowProgressScope(RowProgress& l) : previous_(listener) {
  listener = &l;
}

RowProgressScope::~RowProgressScope() {
  listener = previous_;
}

void ReportRows(std::uint64_t done, std::uint64_t total) {
  if (listener) listener->Rows(done, total);
}

std::string RowsText(std::uint64_t done, std::uint64_t total, double rate) {
  const auto whole = [](double n) { return std::to_string(std::llround(n)); };
  std::string text =
      std::to_string(done) + (total > 0 ? " of " + std::to_string(total) : "") + " rows";
  if (rate <= 0) return text;
  text += ", " + whole(rate) + " rows/s";
  if (total > done) text += ", " + whole(static_cast<double>(total - done) / rate) + " s left";
  return text;
}

}  // namespace platform
