// An order-free summary of a table's rows in fixed memory, for comparing two tables row by row
// without holding either.
//
// Owns: per bucket (chosen by a row's hash) the number of rows and a sum of their mixed hashes.
// Two tables with the same rows give the same digest whatever their order; a row missing, added
// or changed changes the digest of its bucket.
// Failures: none; two different tables give equal digests only if their row hashes collide.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace platform::verify {

class RowDigest {
 public:
  RowDigest();
  void Add(std::string_view row);
  // Adds the rows of `other`: the digest of two parts of a table is the table's digest.
  void Merge(const RowDigest& other);
  std::uint64_t Rows() const { return rows_; }
  bool operator==(const RowDigest&) const = default;
  // How many rows of this table have no equal row in `other`: exact while the differences fall
  // into different buckets (one in 4096), otherwise a lower bound.
  std::uint64_t RowsMissingFrom(const RowDigest& other) const;

 private:
  struct Bucket {
    std::uint64_t rows = 0;
    std::uint64_t sum = 0;
    bool operator==(const Bucket&) const = default;
  };
  std::vector<Bucket> buckets_;
  std::uint64_t rows_ = 0;
};

}  // namespace platform::verify
