#include "platform/row_progress.h"

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

}  // namespace platform
