#include "platform/access/insert_array.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/row_progress.h"

namespace platform::access {
namespace {

// Rows per parameter array, and the bytes its value buffers may take: a wide or long row gets
// fewer rows. An array is sent early once its values hold kBatchBytes, and a column whose
// values grew beyond kKeptBufferBytes gives its buffer back after its array: memory stays flat
// with long values.
constexpr std::size_t kArrayRows = 1024;
constexpr std::size_t kArrayBytes = 4 << 20;
constexpr std::size_t kBatchBytes = 1 << 20;
constexpr std::size_t kKeptBufferBytes = 16 << 10;

bool IsNumber(SQLSMALLINT cType) {
  return cType != SQL_C_CHAR && cType != SQL_C_BINARY;
}

}  // namespace

InsertArray::InsertArray(odbc::Statement& statement, const std::vector<ParamBinding>& bindings,
                         std::uint32_t expected)
    : st_(statement), status_(kArrayRows), expected_(expected) {
  Attr(SQL_ATTR_PARAM_BIND_TYPE, SQL_PARAM_BIND_BY_COLUMN);
  st_.Check(SQLSetStmtAttr(st_.get(), SQL_ATTR_PARAM_STATUS_PTR, status_.data(), 0),
            "setting the parameter status array");
  st_.Check(SQLSetStmtAttr(st_.get(), SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0),
            "setting the parameter count");
  std::vector<std::size_t> strides;
  for (const ParamBinding& b : bindings) {
    columns_.emplace_back().binding = b;
    strides.push_back(IsNumber(b.cType) ? 0 : std::max<std::size_t>(b.initialStride, 2));
  }
  Layout(strides);
}

std::size_t InsertArray::BufferBytes() const {
  std::size_t bytes = 0;
  for (const Column& c : columns_)
    bytes += c.bytes.capacity() + c.indicators.capacity() * sizeof(SQLLEN) +
             c.integers.capacity() * sizeof(std::int64_t) + c.singles.capacity() * sizeof(float) +
             c.reals.capacity() * sizeof(double);
  return bytes;
}

void InsertArray::Add(const std::vector<Cell>& cells) {
  // The strides the row's text and bytes values need.
  std::vector<std::size_t> strides(columns_.size());
  const auto wanted = [&] {
    bool grow = false;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      std::size_t stride = columns_[c].stride;
      const std::size_t need = cells[c].bytes.size() + 1;
      if (stride != 0 && !cells[c].null && need > stride) {
        while (stride < need) stride *= 2;
        grow = true;
      }
      strides[c] = stride;
    }
    return grow;
  };
  if (wanted()) {
    if (filled_ + 1 > CapacityFor(strides)) {
      Execute();
      wanted();
    }
    Layout(strides);
  }
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    Column& p = columns_[c];
    const Cell& cell = cells[c];
    if (cell.null) {
      p.indicators[filled_] = SQL_NULL_DATA;
      continue;
    }
    p.indicators[filled_] = 0;
    switch (p.binding.cType) {
      case SQL_C_SBIGINT:
        p.integers[filled_] = cell.integer;
        break;
      case SQL_C_FLOAT:
        p.singles[filled_] = static_cast<float>(cell.real);
        break;
      case SQL_C_DOUBLE:
        p.reals[filled_] = cell.real;
        break;
      default: {
        const std::size_t size = cell.bytes.size();
        char* at = p.bytes.data() + filled_ * p.stride;
        if (size > 0) std::memcpy(at, cell.bytes.data(), size);
        at[size] = '\0';
        p.indicators[filled_] = static_cast<SQLLEN>(size);
        filledBytes_ += size;
        break;
      }
    }
  }
  if (++filled_ == capacity_ || filledBytes_ >= kBatchBytes) Execute();
}

void InsertArray::Execute() {
  if (filled_ == 0) return;
  if (filled_ != paramsetSize_) {
    Attr(SQL_ATTR_PARAMSET_SIZE, filled_);
    paramsetSize_ = filled_;
  }
  std::fill(status_.begin(), status_.begin() + static_cast<std::ptrdiff_t>(filled_),
            SQLUSMALLINT{SQL_PARAM_UNUSED});
  processed_ = 0;
  const SQLRETURN rc = SQLExecute(st_.get());
  const auto failed = std::find_if(status_.begin(), status_.begin() + filled_,
                                   [](SQLUSMALLINT s) { return s == SQL_PARAM_ERROR; });
  if (!SQL_SUCCEEDED(rc) || failed != status_.begin() + filled_) {
    const std::size_t first = written_ + 1;
    std::string step;
    if (failed != status_.begin() + filled_)
      step = "inserting row " +
             std::to_string(first + static_cast<std::size_t>(failed - status_.begin()));
    else if (filled_ == 1)
      step = "inserting row " + std::to_string(first);
    else
      step =
          "inserting rows " + std::to_string(first) + " to " + std::to_string(written_ + filled_);
    st_.Check(SQL_ERROR, step);
  }
  written_ += filled_;
  filled_ = 0;
  filledBytes_ = 0;
  ReportRows(written_, expected_);
  // Long values leave their large buffers behind.
  std::vector<std::size_t> strides;
  bool shrink = false;
  for (const Column& c : columns_) {
    shrink = shrink || c.stride > kKeptBufferBytes;
    strides.push_back(c.stride > kKeptBufferBytes ? c.binding.initialStride : c.stride);
  }
  if (shrink) Layout(strides);
}

void InsertArray::Attr(SQLINTEGER attribute, SQLULEN value) {
  st_.Check(SQLSetStmtAttr(st_.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0),
            "setting the parameter array");
}

std::size_t InsertArray::CapacityFor(const std::vector<std::size_t>& strides) const {
  std::size_t row = 0;
  for (std::size_t i = 0; i < strides.size(); ++i)
    row += sizeof(SQLLEN) + (strides[i] != 0 ? strides[i] : sizeof(double));
  return std::clamp<std::size_t>(kArrayBytes / row, 1, kArrayRows);
}

void InsertArray::Layout(const std::vector<std::size_t>& strides) {
  capacity_ = std::max(CapacityFor(strides), filled_);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    Column& p = columns_[c];
    p.indicators.resize(capacity_);
    if (p.binding.cType == SQL_C_SBIGINT) p.integers.resize(capacity_);
    if (p.binding.cType == SQL_C_FLOAT) p.singles.resize(capacity_);
    if (p.binding.cType == SQL_C_DOUBLE) p.reals.resize(capacity_);
    if (strides[c] != 0) {
      std::vector<char> bytes(capacity_ * strides[c]);
      for (std::size_t r = 0; r < filled_; ++r)
        if (p.indicators[r] != SQL_NULL_DATA)
          std::memcpy(bytes.data() + r * strides[c], p.bytes.data() + r * p.stride,
                      static_cast<std::size_t>(p.indicators[r]) + 1);
      p.bytes.swap(bytes);
      p.stride = strides[c];
    }
    SQLPOINTER value = p.bytes.data();
    if (p.binding.cType == SQL_C_SBIGINT) value = p.integers.data();
    if (p.binding.cType == SQL_C_FLOAT) value = p.singles.data();
    if (p.binding.cType == SQL_C_DOUBLE) value = p.reals.data();
    const SQLULEN size = p.stride != 0 && p.binding.size == 0 ? p.stride : p.binding.size;
    const SQLRETURN rc =
        SQLBindParameter(st_.get(), static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT,
                         p.binding.cType, p.binding.sqlType, size, p.binding.digits, value,
                         static_cast<SQLLEN>(p.stride), p.indicators.data());
    if (!SQL_SUCCEEDED(rc)) st_.Check(rc, "binding a parameter");
  }
  peak_ = std::max(peak_, BufferBytes());
}

}  // namespace platform::access
