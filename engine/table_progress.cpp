#include "engine/table_progress.h"

#include <algorithm>

namespace engine {

void TableProgress::Rows(std::uint64_t done, std::uint64_t total) {
  view_.SetRowProgress(table_, done, total);
  if (total == 0 || to_ <= from_ || to_ > 100.0f) return;
  const float part = static_cast<float>(std::min(done, total)) / static_cast<float>(total);
  const float value = from_ + (to_ - from_) * part;
  // Half a percent at a time: the wizard repaints, and the ending value stays the walk's.
  if (value - shown_ < 0.5f || value >= to_) return;
  shown_ = value;
  view_.SetProgress(value);
  view_.YieldToEventLoop();
}

}  // namespace engine
