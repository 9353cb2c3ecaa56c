#include "platform/verify/row_digest.h"

#include <functional>
#include <string>

namespace platform::verify {
namespace {

constexpr std::size_t kBuckets = 4096;

// A bijective mix of the 64 bits, so the sums do not inherit the hash's low-bit patterns.
std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

}  // namespace

RowDigest::RowDigest() : buckets_(kBuckets) {}

void RowDigest::Add(std::string_view row) {
  const std::uint64_t h = std::hash<std::string_view>{}(row);
  Bucket& b = buckets_[Mix(h) % kBuckets];
  ++b.rows;
  b.sum += h;
  ++rows_;
}

void RowDigest::Merge(const RowDigest& other) {
  for (std::size_t i = 0; i < kBuckets; ++i) {
    buckets_[i].rows += other.buckets_[i].rows;
    buckets_[i].sum += other.buckets_[i].sum;
  }
  rows_ += other.rows_;
}

std::uint64_t RowDigest::RowsMissingFrom(const RowDigest& other) const {
  std::uint64_t missing = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    const Bucket &mine = buckets_[i], &theirs = other.buckets_[i];
    if (mine.rows > theirs.rows)
      missing += mine.rows - theirs.rows;
    else if (mine.rows == theirs.rows && mine.sum != theirs.sum)
      ++missing;  // as many rows, not the same ones
  }
  return missing;
}

}  // namespace platform::verify
