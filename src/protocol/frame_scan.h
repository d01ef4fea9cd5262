// One pass over complete lines that finds their ends, their "<...>" requests
// and each request's '#' field ends together, as next_line, next_request and
// split_request would find them one after another. The server reads many
// short requests at a time, so looking at each byte once, 16 at a time,
// costs less than a search per line, per bracket and per field.
#pragma once

#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "protocol/fields.h"
#include "protocol/framing.h"

namespace palisim {

// What FrameScan met next.
enum class FrameKind : uint8_t {
  kRequest,  // a request; the scan stays on its line
  kLineEnd,  // a line's carriage return
  kEnd,      // the end of the bytes
};

struct Frame {
  FrameKind kind = FrameKind::kEnd;
  ByteSpan span;  // the request, or the line's carriage return alone
};

class FrameScan {
 public:
  // Scans [from, end) of bytes, which ends with the carriage return of its
  // last line (or holds none).
  FrameScan(std::span<const char> bytes, int32_t from, int32_t end)
      : bytes_(bytes.data()), end_(end), block_(from) {
    mask_ = block_mask(block_);
  }

  // The next request or line end. For a request, `fields` holds what
  // split_request would give it, with the '#' still in place: cut_fields
  // writes their NULs.
  Frame next(Fields& fields) {
    int32_t open = -1;
    int32_t field_start = 0;
    for (int32_t at; (at = next_byte()) >= 0;) {
      const char ch = bytes_[at];
      if (ch == '\r') return {FrameKind::kLineEnd, {at, at + 1}};
      if (open < 0) {
        if (ch == '<') {
          open = at;
          field_start = at + 1;
          fields.count = 0;
        }
      } else if (ch == '#') {
        if (fields.count < kMaxFields) {
          fields.ptr[fields.count] = bytes_ + field_start;
          fields.len[fields.count] = static_cast<uint16_t>(at - field_start);
          ++fields.count;
          field_start = at + 1;
        }
      } else if (ch == '>') {
        fields.visible = fields.count;
        fields.echo = false;
        return {FrameKind::kRequest, {open, at + 1}};
      }
    }
    return {};
  }

 private:
  static constexpr int32_t kBlock = 16;

  // The next '\r', '<', '>' or '#', or -1.
  int32_t next_byte() {
    while (mask_ == 0) {
      block_ += kBlock;
      if (block_ >= end_) return -1;
      mask_ = block_mask(block_);
    }
    const int32_t at = block_ + __builtin_ctz(mask_);
    mask_ &= mask_ - 1;
    return at;
  }

  // Bit i set when byte at + i is one the framing looks at.
  uint32_t block_mask(int32_t at) const {
    if (at >= end_) return 0;
    const char* p = bytes_ + at;
#if defined(__SSE2__)
    if (end_ - at >= kBlock) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')),
                                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('<'))),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('>')),
                                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('#'))));
      return static_cast<uint32_t>(_mm_movemask_epi8(hit));
    }
#endif
    uint32_t mask = 0;
    const int32_t n = end_ - at < kBlock ? end_ - at : kBlock;
    for (int32_t i = 0; i < n; ++i) {
      const char ch = p[i];
      if (ch == '\r' || ch == '<' || ch == '>' || ch == '#') mask |= 1u << i;
    }
    return mask;
  }

  const char* bytes_;
  int32_t end_;
  int32_t block_;  // where the block of mask_ begins
  uint32_t mask_ = 0;
};

// Overwrites with NUL the '#' that ends each field FrameScan found inside
// `text`: the same cut as split_request's.
inline void cut_fields(char* text, const Fields& f) {
  for (int i = 0; i < f.count; ++i)
    text[f.ptr[i] + f.len[i] - text] = '\0';
}

// Puts back the '#' that cut_fields overwrote, giving the request as it came.
inline void uncut_fields(char* text, const Fields& f) {
  for (int i = 0; i < f.count; ++i)
    text[f.ptr[i] + f.len[i] - text] = '#';
}

}  // namespace palisim
