// The bar within a long table: moves it from the table's starting value towards its ending value
// as the rows go in, and passes the rows on to the view.
//
// Owns: nothing but the last value shown. The values at table boundaries stay the walk's own.
// Failures: none.
#pragma once

#include <string>
#include <utility>

#include "engine/run_view.h"
#include "platform/row_progress.h"

namespace engine {

class TableProgress : public platform::RowProgress {
 public:
  TableProgress(RunView& view, std::string table, float from, float to)
      : view_(view), table_(std::move(table)), from_(from), to_(to) {}
  void Rows(std::uint64_t done, std::uint64_t total) override;

 private:
  RunView& view_;
  std::string table_;
  float from_, to_;
  float shown_ = from_;
};

}  // namespace engine
