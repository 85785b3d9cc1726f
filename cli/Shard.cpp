#include "cli/Shard.h"

#include <cstdint>

#include "cli/NumberText.h"

namespace cli {
namespace {

constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

}  // namespace

std::optional<ShardSpec> ParseShard(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::optional<std::int64_t> index = ParseInteger(text.substr(0, slash));
  const std::optional<std::int64_t> count = ParseInteger(text.substr(slash + 1));
  if (!index || !count || *index < 1 || *index > *count || *count > UINT32_MAX) {
    return std::nullopt;
  }
  return ShardSpec{static_cast<std::uint32_t>(*index), static_cast<std::uint32_t>(*count)};
}

std::uint64_t Fnv1a64(std::string_view bytes) {
  std::uint64_t hash = kFnvOffsetBasis;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kFnvPrime;
  }
  return hash;
}

bool InShard(std::string_view key, const ShardSpec& shard) {
  return Fnv1a64(key) % shard.count == shard.index - 1;
}

std::vector<Job> TakeShard(std::vector<Job> jobs, const ShardSpec& shard) {
  std::erase_if(jobs, [&](const Job& job) { return !InShard(job.shardKey.native(), shard); });
  return jobs;
}

}  // namespace cli
