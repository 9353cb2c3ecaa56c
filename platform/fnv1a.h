// FNV-1a, 64 bits: the digest the undo record keeps of files and of tables' values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class Fnv1a {
 public:
  void Add(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
      hash_ ^= p[i];
      hash_ *= 1099511628211ull;
    }
  }
  std::uint64_t Value() const { return hash_; }

 private:
  std::uint64_t hash_ = 14695981039346656037ull;
};

}  // namespace platform
