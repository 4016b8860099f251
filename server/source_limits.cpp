#include "source_limits.h"

#include "platform/ipv4.h"

namespace halcyra::server {
namespace {

// A full table is pruned at most this often, so a flood of new addresses cannot make every
// datagram walk the whole table.
constexpr uint64_t kFullTablePruneIntervalMs = 100;

uint32_t PrefixMask(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }

}  // namespace

bool NetworkList::Add(const std::string& cidr) {
  size_t slash = cidr.find('/');
  int prefix = 32;
  if (slash != std::string::npos) {
    std::string bits = cidr.substr(slash + 1);
    if (bits.empty() || bits.size() > 2 || bits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    prefix = std::stoi(bits);
    if (prefix > 32) return false;
  }
  uint32_t address = 0;
  if (!ParseDottedIPv4(cidr.substr(0, slash), &address)) return false;
  uint32_t mask = PrefixMask(prefix);
  networks_.push_back({address & mask, mask, prefix});
  return true;
}

bool NetworkList::Allows(uint32_t address) const {
  if (networks_.empty()) return true;
  for (const Network& network : networks_) {
    if ((address & network.mask) == network.address) return true;
  }
  return false;
}

std::string NetworkList::Describe() const {
  std::string text;
  for (const Network& network : networks_) {
    if (!text.empty()) text += ",";
    text += FormatDottedIPv4(network.address) + "/" + std::to_string(network.prefix);
  }
  return text;
}

SourceRateLimiter::SourceRateLimiter(uint64_t ratePerSecond, uint64_t burst, size_t maxSources)
    : ratePerSecond_(ratePerSecond),
      burst_(burst < 1 ? 1 : burst),
      maxSources_(maxSources < 1 ? 1 : maxSources) {}

double SourceRateLimiter::TokensAt(const Bucket& bucket, uint64_t nowMs) const {
  if (nowMs <= bucket.updatedMs) return bucket.tokens;
  double tokens = bucket.tokens + static_cast<double>(nowMs - bucket.updatedMs) *
                                      static_cast<double>(ratePerSecond_) / 1000.0;
  double full = static_cast<double>(burst_);
  return tokens < full ? tokens : full;
}

bool SourceRateLimiter::Allow(uint32_t source, uint64_t nowMs) {
  if (ratePerSecond_ == 0) return true;
  auto found = buckets_.find(source);
  if (found == buckets_.end()) {
    if (buckets_.size() >= maxSources_) {
      if (pruned_ && nowMs >= lastFullPruneMs_ && nowMs - lastFullPruneMs_ < kFullTablePruneIntervalMs) {
        return false;
      }
      Prune(nowMs);
      pruned_ = true;
      lastFullPruneMs_ = nowMs;
      if (buckets_.size() >= maxSources_) return false;
    }
    found = buckets_.emplace(source, Bucket{static_cast<double>(burst_), nowMs}).first;
  }
  Bucket& bucket = found->second;
  bucket.tokens = TokensAt(bucket, nowMs);
  if (nowMs > bucket.updatedMs) bucket.updatedMs = nowMs;
  if (bucket.tokens < 1.0) return false;
  bucket.tokens -= 1.0;
  return true;
}

void SourceRateLimiter::Prune(uint64_t nowMs) {
  double full = static_cast<double>(burst_);
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    if (TokensAt(it->second, nowMs) >= full) {
      it = buckets_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace halcyra::server
