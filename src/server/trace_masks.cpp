#include "server/trace_masks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace palisim {

namespace {

constexpr char kMask = '*';

void mask_range(std::span<char> field, size_t from, size_t to) {
  std::fill(field.begin() + static_cast<ptrdiff_t>(from),
            field.begin() + static_cast<ptrdiff_t>(to), kMask);
}

void apply(std::span<char> field, MaskKind kind, std::string_view mode) {
  size_t len = field.size();
  switch (kind) {
    case MaskKind::kPin:
      for (char& c : field)
        if (c >= '0' && c <= '9') c = kMask;
      break;
    case MaskKind::kAccount:
      if (len > 4) mask_range(field, len > 10 ? 6 : 0, len - 4);
      break;
    case MaskKind::kAccountTail:
      if (len > 4) mask_range(field, 0, len - 4);
      break;
    case MaskKind::kEncipherInput:
      if (mode != "D") mask_range(field, 0, len);
      break;
    case MaskKind::kDecipherOutput:
      if (mode == "D") mask_range(field, 0, len);
      break;
  }
}

// Whether each row hides anything in its requests and in its replies,
// looked up for every message the trace or the journal keeps.
constexpr auto kHasMasks = [] {
  std::array<std::array<bool, 2>, kCommandCount> has{};
  for (size_t i = 0; i < kCommandCount; ++i) {
    for (const FieldMask& m : kCommandCatalog[i].masks)
      has[i][static_cast<size_t>(m.part)] = true;
  }
  return has;
}();

// Where the '#' of a message lie between its '<' and its end, found in one
// pass, 16 bytes at a time: the first kFirst of them, how many there are,
// and the last two.
struct Hashes {
  static constexpr size_t kFirst = 16;
  std::array<size_t, kFirst> first{};
  size_t count = 0;
  size_t last = 0, before_last = 0;  // valid for count >= 1 and count >= 2

  Hashes(const char* text, size_t from, size_t to) {
    size_t at = from;
#if defined(__SSE2__)
    for (; at + 16 <= to; at += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
      for (auto bits =
               static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('#'))));
           bits != 0; bits &= bits - 1)
        add(at + static_cast<size_t>(__builtin_ctz(bits)));
    }
#endif
    for (; at < to; ++at)
      if (text[at] == '#') add(at);
  }

 private:
  void add(size_t at) {
    if (count < kFirst) first[count] = at;
    ++count;
    before_last = last;
    last = at;
  }
};

// Fields of a request's text between '<' and '>' (from 1 to `end`),
// counted as the dispatcher counts them but for text after the last '#',
// which counts as one more, and without an echo field.
int field_count(std::string_view message, size_t end, const Hashes& hashes) {
  if (hashes.count == 0) return 0;
  int count = static_cast<int>(hashes.count);
  std::string_view last_field = message.substr(hashes.last + 1, end - hashes.last - 1);
  if (!last_field.empty()) {
    ++count;
  } else {
    const size_t from = hashes.count >= 2 ? hashes.before_last + 1 : 1;
    last_field = message.substr(from, hashes.last - from);
  }
  return last_field.starts_with('^') ? count - 1 : count;
}

// Whether the request's masks, chosen by position, find its secrets: its
// field count is one of its row's forms. Any field of an unknown code, a
// known one mistyped perhaps, may be a secret.
bool masks_fit(std::string_view message, size_t end, const Hashes& hashes, size_t command) {
  if (command >= kCommandCount) return hashes.count == 0;
  const CommandInfo& row = kCommandCatalog[command];
  if (std::none_of(row.masks.begin(), row.masks.end(),
                   [](const FieldMask& m) { return m.part == MessagePart::kRequest; }))
    return true;
  const int count = field_count(message, end, hashes);
  return count == row.min_fields || std::find(row.longer_forms.begin(), row.longer_forms.end(),
                                              count) != row.longer_forms.end();
}

}  // namespace

void mask_message(std::span<char> message, size_t command, MessagePart part) {
  if (message.empty() || message.front() != '<') return;
  size_t end = message.size();
  if (message.back() == '>') --end;
  const bool known = command < kCommandCount;
  auto applies = [part](const FieldMask& m) { return m.part == part; };
  const bool has_masks = known && kHasMasks[command][static_cast<size_t>(part)];
  // Most messages have nothing to hide and need no look at their fields.
  if (!has_masks && (known || part != MessagePart::kRequest)) return;
  const std::string_view text(message.data(), message.size());
  const Hashes hashes(message.data(), 1, end);
  if (part == MessagePart::kRequest && !masks_fit(text, end, hashes, command)) {
    // Every field after the code, each keeping its length.
    char* first = message.data() + hashes.first[0] + 1;
    std::replace_if(
        first, message.data() + end, [](char c) { return c != '#'; }, kMask);
    return;
  }
  if (!has_masks) return;
  const auto& masks = kCommandCatalog[command].masks;
  // Field starts, found before any is changed: the mode of command 97 is field 1.
  std::array<size_t, Hashes::kFirst> starts{};
  size_t count = 0;
  starts[count++] = 1;
  for (size_t i = 0; i < hashes.count && count < starts.size(); ++i)
    starts[count++] = hashes.first[i] + 1;
  auto field = [&](size_t i) {
    if (i >= count) return std::span<char>();
    size_t stop = i + 1 < count ? starts[i + 1] - 1 : end;
    // The last start may lie past a closing '#' with nothing after it.
    return message.subspan(starts[i], stop > starts[i] ? stop - starts[i] : 0);
  };
  std::span<char> mode_field = field(1);
  const std::string_view mode(mode_field.data(), mode_field.size());
  for (const FieldMask& m : masks) {
    if (applies(m)) apply(field(static_cast<size_t>(m.field)), m.kind, mode);
  }
}

bool may_mask(size_t command) {
  // A request of no row may hide a secret in any field.
  return command >= kCommandCount || kHasMasks[command][0] || kHasMasks[command][1];
}

void mask_exchange(std::span<char> request, std::span<char> reply, size_t command,
                   const ErrorKind* error, const Injection& injection) {
  if (!may_mask(command)) return;
  bool own_reply = injection.rule && injection.rule->replaces_reply();
  if (!error && !own_reply) mask_message(reply, command, MessagePart::kReply);
  mask_message(request, command, MessagePart::kRequest);
}

}  // namespace palisim
