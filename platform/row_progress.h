// Progress of a long step counted in rows (a table's transfer), for whoever shows it.
//
// Owns: the current thread's listener. The step reports where it is; the listener decides how
// often to show it.
// Failures: none; a listener must not throw.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class RowProgress {
 public:
  virtual ~RowProgress() = default;
  // `done` of `total` rows; total 0 when it is not known.
  virtual void Rows(std::uint64_t done, std::uint64_t total) = 0;
};

// `listener` hears the rows reported on this thread while the scope lives.
class RowProgressScope {
 public:
  explicit RowProgressScope(RowProgress& listener);
  RowProgressScope(const RowProgressScope&) = delete;
  RowProgressScope& operator=(const RowProgressScope&) = delete;
  ~RowProgressScope();

 private:
  RowProgress* previous_;
};

// Tells this thread's listener, if there is one.
void ReportRows(std::uint64_t done, std::uint64_t total);

// "120000 of 500000 rows, 310000 rows/s, 2 s left": `rate` in rows a second, 0 while not known;
// total 0 when not known.
std::string RowsText(std::uint64_t done, std::uint64_t total, double rate);

}  // namespace platform
