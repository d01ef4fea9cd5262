// Latencies in a log-linear histogram of fixed size, after HdrHistogram:
// exact to the microsecond below 256 us, then 128 buckets per power of two
// (under 0.8 % apart) up to 10 s; longer values count as 10 s.
#pragma once

#include <array>
#include <cstdint>

namespace palisim::stress {

class LatencyHistogram {
 public:
  static constexpr int64_t kMaxUs = 10'000'000;

  void record_us(int64_t us);
  void clear();

  uint64_t count() const { return count_; }
  int64_t min_us() const { return count_ ? min_ : 0; }
  int64_t max_us() const { return count_ ? max_ : 0; }
  // Of the recorded values themselves, not of their buckets; 0 when empty.
  double mean_us() const;
  double stdev_us() const;
  // The smallest recorded value v (to its bucket's top, at most the maximum)
  // with at least fraction q of the records at or below v; 0 when empty.
  int64_t quantile_us(double q) const;

 private:
  static constexpr int kSubBits = 7;
  static constexpr int64_t kSub = int64_t{1} << kSubBits;
  // 10 s lies below 2^24 us: shifts up to 24 - 1 - kSubBits.
  static constexpr int kBuckets = static_cast<int>(kSub * (24 - kSubBits) + kSub);

  static int bucket_of(int64_t us);
  static int64_t bucket_top(int bucket);

  std::array<uint64_t, kBuckets> counts_{};
  uint64_t count_ = 0;
  int64_t min_ = 0;
  int64_t max_ = 0;
  double sum_ = 0;     // of the values recorded
  double sum_sq_ = 0;  // of their squares
};

}  // namespace palisim::stress
