// What halcyra-server asks of a datagram's source address before it reads the datagram: is the
// address in an allowed network (--allow), and is it within its request rate (--rate, --burst)?
//
// Not thread-safe: the server loop owns both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace halcyra::server {

// IPv4 networks in CIDR form. An empty list allows every address.
class NetworkList {
 public:
  // Adds "a.b.c.d/n" (n 0..32) or "a.b.c.d" (= /32). False when the text is neither; bits of the
  // address beyond the prefix are ignored.
  bool Add(const std::string& cidr);
  bool Allows(uint32_t address) const;
  bool empty() const { return networks_.empty(); }
  // The networks as "a.b.c.d/n", comma-separated, for the start-up line.
  std::string Describe() const;

 private:
  struct Network {
    uint32_t address;
    uint32_t mask;
    int prefix;
  };
  std::vector<Network> networks_;
};

// A token bucket per source address: each holds up to burst requests and refills at
// ratePerSecond. A bucket that has refilled completely is the same as a new one, so it can be
// forgotten; that keeps the table small under a flood from many (spoofed) addresses. When the
// table is full even so, new addresses are refused until old buckets refill.
class SourceRateLimiter {
 public:
  // ratePerSecond 0 = no limit (Allow always says yes and keeps no table).
  SourceRateLimiter(uint64_t ratePerSecond, uint64_t burst, size_t maxSources = 65536);

  // Takes one request from source's bucket at nowMs (monotonic milliseconds). False when it is
  // empty or the table has no room for a new address.
  bool Allow(uint32_t source, uint64_t nowMs);
  // Forgets the buckets that have refilled by nowMs.
  void Prune(uint64_t nowMs);

  size_t SourceCount() const { return buckets_.size(); }
  uint64_t rate() const { return ratePerSecond_; }
  uint64_t burst() const { return burst_; }

 private:
  struct Bucket {
    double tokens = 0;
    uint64_t updatedMs = 0;
  };
  double TokensAt(const Bucket& bucket, uint64_t nowMs) const;

  uint64_t ratePerSecond_;
  uint64_t burst_;
  size_t maxSources_;
  uint64_t lastFullPruneMs_ = 0;
  bool pruned_ = false;
  std::unordered_map<uint32_t, Bucket> buckets_;
};

}  // namespace halcyra::server
