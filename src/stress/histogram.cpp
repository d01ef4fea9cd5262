#include "stress/histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace palisim::stress {

// Values below 2 * kSub have a bucket each; above, the shift drops the bits
// below the kSubBits + 1 leading ones, which keeps buckets contiguous.
int LatencyHistogram::bucket_of(int64_t us) {
  auto v = static_cast<uint64_t>(us);
  if (v < 2 * kSub) return static_cast<int>(v);
  int shift = std::bit_width(v) - 1 - kSubBits;
  return static_cast<int>(kSub * shift + static_cast<int64_t>(v >> shift));
}

int64_t LatencyHistogram::bucket_top(int bucket) {
  if (bucket < 2 * kSub) return bucket;
  int shift = bucket / static_cast<int>(kSub) - 1;
  int64_t sub = bucket - kSub * shift;
  return ((sub + 1) << shift) - 1;
}

void LatencyHistogram::record_us(int64_t us) {
  us = std::clamp<int64_t>(us, 0, kMaxUs);
  ++counts_[static_cast<size_t>(bucket_of(us))];
  min_ = count_ ? std::min(min_, us) : us;
  max_ = count_ ? std::max(max_, us) : us;
  ++count_;
  auto v = static_cast<double>(us);
  sum_ += v;
  sum_sq_ += v * v;
}

double LatencyHistogram::mean_us() const {
  return count_ ? sum_ / static_cast<double>(count_) : 0.0;
}

// Of the whole population; rounding may take the variance a little below 0.
double LatencyHistogram::stdev_us() const {
  if (count_ == 0) return 0.0;
  double mean = mean_us();
  return std::sqrt(std::max(0.0, sum_sq_ / static_cast<double>(count_) - mean * mean));
}

void LatencyHistogram::clear() {
  counts_.fill(0);
  count_ = 0;
  min_ = max_ = 0;
  sum_ = sum_sq_ = 0;
}

int64_t LatencyHistogram::quantile_us(double q) const {
  if (count_ == 0) return 0;
  auto rank = static_cast<uint64_t>(std::ceil(q * static_cast<double>(count_)));
  rank = std::clamp<uint64_t>(rank, 1, count_);
  uint64_t seen = 0;
  for (int b = 0; b < kBuckets; ++b) {
    seen += counts_[static_cast<size_t>(b)];
    if (seen >= rank) return std::clamp(bucket_top(b), min_, max_);
  }
  return max_;
}

}  // namespace palisim::stress
