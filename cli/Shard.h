// One share of a run's sources, so that N processes (or N machines) on one shared tree split
// the work without talking to each other: a source belongs to shard K of N when the FNV-1a
// 64-bit hash of its shard key, taken modulo N, is K - 1. The key is the source's path below the
// folder named on the command line (for a file found in a folder) or its name as given (for a
// file named on the command line or listed with --files-from), as raw bytes, so that every
// machine and every run assigns it to the same shard.
// Threading: any thread; the functions share nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/JobList.h"

namespace cli {

struct ShardSpec {
  std::uint32_t index = 1;  // K, 1..count
  std::uint32_t count = 1;  // N
};

// "K/N" with 1 <= K <= N; nothing for anything else.
std::optional<ShardSpec> ParseShard(std::string_view text);

// FNV-1a, 64 bits: offset basis 0xcbf29ce484222325, prime 0x100000001b3, one byte at a time.
std::uint64_t Fnv1a64(std::string_view bytes);

// Whether the source with this key belongs to `shard`.
bool InShard(std::string_view key, const ShardSpec& shard);

// The jobs of `shard`, in their order.
std::vector<Job> TakeShard(std::vector<Job> jobs, const ShardSpec& shard);

}  // namespace cli
