// Index keys and index B-trees of the catalog (MSysObjects): reading every entry in order and
// writing a tree back with changed entries.
//
// Owns: the key encoding of LONG values (text keys: text_key.h), the page layout of index node
// and leaf pages.
// Failures: an index page that does not decode throws kUnrecognizedFormat.
// Writing only stages pages in the PageFile; nothing reaches the disk before Commit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/jetwriter/jet_format.h"
#include "platform/jetwriter/text_key.h"

namespace jetwriter {

// Key of an ascending, non-null LONG value.
Bytes LongKey(std::int32_t v);
// The four rowid bytes that end a leaf entry.
Bytes RowIdBytes(RowId id);
RowId RowIdOf(const Bytes& entry);

struct IndexTree {
  std::vector<Bytes> entries;        // leaf entries in order (key + rowid)
  std::vector<std::uint32_t> pages;  // every page of the tree, root first
};

// Reads the tree at `root`, checking page types, owners, order and the node/child invariants.
// Problems found are appended to `problems` when given; without it they throw.
IndexTree ReadIndexTree(PageFile& file, const Format& f, std::uint32_t tdefPage, std::uint32_t root,
                        std::vector<std::string>* problems = nullptr);

// The root page of an empty index of the table at `tdefPage`: one leaf without entries.
Bytes EmptyIndexLeaf(const Format& f, std::uint32_t tdefPage);

// Writes the tree anew with `entries` (sorted, unique): the root page stays where it is, other
// pages of `old` are reused, more are taken from `pages`, unused ones are given back to it. The
// index usage map is kept in step.
void WriteIndexTreeWith(PageFile& file, const Format& f, std::uint32_t tdefPage,
                        const RealIndex& index, const IndexTree& old,
                        const std::vector<Bytes>& entries, PageAllocator& pages);

}  // namespace jetwriter
