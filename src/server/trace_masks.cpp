#include "server/trace_masks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "protocol/fields.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace palisim {

namespace {

constexpr char kMask = '*';

// Masked ranges are a few bytes long: stores of eight overlapping at the end
// beat a call to memset, and never touch a byte outside the range.
void mask_range(std::span<char> field, size_t from, size_t to) {
  char* at = field.data() + from;
  const size_t n = to - from;
  static constexpr char kEight[8] = {kMask, kMask, kMask, kMask, kMask, kMask, kMask, kMask};
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8)
      std::memcpy(at + i, kEight, 8);
    std::memcpy(at + n - 8, kEight, 8);
  } else if (n >= 4) {
    std::memcpy(at, kEight, 4);
    std::memcpy(at + n - 4, kEight, 4);
  } else {
    for (size_t i = 0; i < n; ++i)
      at[i] = kMask;
  }
}

inline void apply(std::span<char> field, MaskKind kind, std::string_view mode) {
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

// Each row's masks of requests and of replies apart, looked up for every
// message the trace or the journal keeps.
using PartMasks = RowList<FieldMask, 4>;
constexpr auto kPartMasks = [] {
  std::array<std::array<PartMasks, 2>, kCommandCount> parts{};
  for (size_t i = 0; i < kCommandCount; ++i) {
    for (const FieldMask& m : kCommandCatalog[i].masks) {
      PartMasks& list = parts[i][static_cast<size_t>(m.part)];
      list.items[list.size++] = m;
    }
  }
  return parts;
}();

// Whether row `command` (a known one) hides anything in that part.
constexpr bool has_masks(size_t command, MessagePart part) {
  return kPartMasks[command][static_cast<size_t>(part)].size != 0;
}

// Whether a row's masks of one part read the mode in field 1.
constexpr auto kReadsMode = [] {
  std::array<std::array<bool, 2>, kCommandCount> reads{};
  for (size_t i = 0; i < kCommandCount; ++i) {
    for (const FieldMask& m : kCommandCatalog[i].masks) {
      if (m.kind == MaskKind::kEncipherInput || m.kind == MaskKind::kDecipherOutput)
        reads[i][static_cast<size_t>(m.part)] = true;
    }
  }
  return reads;
}();

// The field counts of each row's forms, a bit each.
constexpr auto kFormCounts = [] {
  std::array<uint64_t, kCommandCount> forms{};
  for (size_t i = 0; i < kCommandCount; ++i) {
    forms[i] = uint64_t{1} << kCommandCatalog[i].min_fields;
    for (const int count : kCommandCatalog[i].longer_forms)
      forms[i] |= uint64_t{1} << count;
  }
  return forms;
}();

// Whether a row hides account digits in its requests and nothing else.
constexpr auto kAccountDigitsOnly = [] {
  std::array<bool, kCommandCount> only{};
  for (size_t i = 0; i < kCommandCount; ++i) {
    bool accounts = kCommandCatalog[i].masks.size != 0;
    for (const FieldMask& m : kCommandCatalog[i].masks)
      accounts = accounts && m.part == MessagePart::kRequest &&
                 (m.kind == MaskKind::kAccount || m.kind == MaskKind::kAccountTail);
    only[i] = accounts;
  }
  return only;
}();

// The masks look at no more than this many fields: the last of them runs
// to the message's end.
constexpr size_t kFieldsLooked = 16;

// Where the '#' of a message lie between its '<' and its end, found in one
// pass, 16 bytes at a time: the first kFieldsLooked of them, how many there
// are, and the last two.
class Hashes {
 public:
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

  size_t count() const {
    return count_;
  }
  // Only the first kFieldsLooked are kept.
  size_t at(size_t i) const {
    return first_[i];
  }
  size_t last() const {
    return last_;
  }
  size_t before_last() const {
    return before_last_;
  }

 private:
  void add(size_t at) {
    if (count_ < kFieldsLooked) first_[count_] = at;
    ++count_;
    before_last_ = last_;
    last_ = at;
  }

  std::array<size_t, kFieldsLooked> first_;
  size_t count_ = 0;
  size_t last_ = 0, before_last_ = 0;  // valid for count >= 1 and count >= 2
};

// The same, from the dispatcher's cut of a request: each of its fields ends
// at a '#', and `fields` points into `request`. Valid while the cut saw
// every '#', that is for fewer than kMaxFields.
class Cut {
 public:
  Cut(const Fields& fields, const char* request) : fields_(fields), request_(request) {}

  size_t count() const { return static_cast<size_t>(fields_.count); }
  size_t at(size_t i) const {
    return static_cast<size_t>(fields_.ptr[i] + fields_.len[i] - request_);
  }
  size_t last() const { return at(count() - 1); }
  size_t before_last() const { return at(count() - 2); }

 private:
  const Fields& fields_;
  const char* request_;
};

// Fields of a request's text between '<' and '>' (from 1 to `end`),
// counted as the dispatcher counts them but for text after the last '#',
// which counts as one more, and without an echo field.
template <class Marks>
int field_count(std::string_view message, size_t end, const Marks& hashes) {
  if (hashes.count() == 0) return 0;
  int count = static_cast<int>(hashes.count());
  const size_t last = hashes.last();
  // The field that would be an echo field: after the last '#' if anything
  // is, else the one before it.
  size_t echo_at = last + 1;
  if (end > last + 1) {
    ++count;
  } else {
    echo_at = hashes.count() >= 2 ? hashes.before_last() + 1 : 1;
    if (echo_at >= last) return count;
  }
  return message[echo_at] == '^' ? count - 1 : count;
}

// Whether the request's masks, chosen by position, find its secrets: its
// field count is one of its row's forms. Any field of an unknown code, a
// known one mistyped perhaps, may be a secret.
template <class Marks>
bool masks_fit(std::string_view message, size_t end, const Marks& hashes, size_t command) {
  if (command >= kCommandCount) return hashes.count() == 0;
  if (!has_masks(command, MessagePart::kRequest)) return true;
  const auto count = static_cast<unsigned>(field_count(message, end, hashes));
  return count < 64 && ((kFormCounts[command] >> count) & 1) != 0;
}

// mask_message's work once the message's '#' are known; `end` is where its
// fields end (before a closing '>').
template <class Marks>
void mask_fields(std::span<char> message, size_t end, const Marks& hashes, size_t command,
                 MessagePart part) {
  const bool known = command < kCommandCount;
  const bool hides = known && has_masks(command, part);
  if (part == MessagePart::kRequest &&
      !masks_fit({message.data(), message.size()}, end, hashes, command)) {
    // Every field after the code, each keeping its length; all but the '<'
    // when there is no '#'.
    char* first = message.data() + (hashes.count() ? hashes.at(0) + 1 : 1);
    std::replace_if(
        first, message.data() + end, [](char c) { return c != '#'; }, kMask);
    return;
  }
  if (!hides) return;
  // Field i runs from the '#' before it (the '<' for field 0) to the next
  // '#' or the end.
  const size_t known_fields = std::min(hashes.count(), kFieldsLooked - 1) + 1;
  auto field = [&](size_t i) {
    if (i >= known_fields) return std::span<char>();
    const size_t start = i == 0 ? 1 : hashes.at(i - 1) + 1;
    const size_t stop = i + 1 < known_fields ? hashes.at(i) : end;
    // The last start may lie past a closing '#' with nothing after it.
    return message.subspan(start, stop > start ? stop - start : 0);
  };
  const PartMasks& masks = kPartMasks[command][static_cast<size_t>(part)];
  // The mode of command 97 is field 1: read before any field is changed.
  std::string_view mode;
  if (kReadsMode[command][static_cast<size_t>(part)]) {
    const std::span<char> mode_field = field(1);
    mode = {mode_field.data(), mode_field.size()};
  }
  for (const FieldMask& m : masks)
    apply(field(static_cast<size_t>(m.field)), m.kind, mode);
}

// Whether a message of row `command` may need a look at its fields at all.
bool worth_a_look(std::span<char> message, size_t command, MessagePart part) {
  if (message.empty() || message.front() != '<') return false;
  const bool known = command < kCommandCount;
  // Most messages have nothing to hide and need no look at their fields.
  return (known && has_masks(command, part)) || (!known && part == MessagePart::kRequest);
}

size_t fields_end(std::span<const char> message) {
  return message.back() == '>' ? message.size() - 1 : message.size();
}

}  // namespace

void mask_message(std::span<char> message, size_t command, MessagePart part) {
  if (!worth_a_look(message, command, part)) return;
  const size_t end = fields_end(message);
  mask_fields(message, end, Hashes(message.data(), 1, end), command, part);
}

bool may_mask(size_t command) {
  // A request of no row may hide a secret in any field.
  return command >= kCommandCount || has_masks(command, MessagePart::kRequest) ||
         has_masks(command, MessagePart::kReply);
}

bool hides_only_account_digits(const RequestRecord& record, size_t copied) {
  const size_t command = record.command;
  if (command >= kCommandCount || !kAccountDigitsOnly[command]) return false;
  const Fields* cut = record.fields;
  const std::string_view request = record.request;
  // Only a whole request the dispatcher cut wholly is sure to be masked in a
  // copy, from its own '#', as it would be now from the cut.
  if (cut == nullptr || cut->count >= kMaxFields || copied != request.size() || request.empty() ||
      request.front() != '<')
    return false;
  return masks_fit(request, fields_end(request), Cut(*cut, request.data()), command);
}

void mask_exchange(std::span<char> request, std::span<char> reply, const RequestRecord& record) {
  const size_t command = record.command;
  if (!may_mask(command)) return;
  const bool known = command < kCommandCount;
  if (known && has_masks(command, MessagePart::kReply) && !record.error &&
      !(record.injection.rule && record.injection.rule->replaces_reply()))
    mask_message(reply, command, MessagePart::kReply);
  if (!worth_a_look(request, command, MessagePart::kRequest)) return;
  const size_t end = fields_end(request);
  // The dispatcher's cut saves a scan when it saw every '#' of the whole request.
  const Fields* cut = record.fields;
  if (cut && cut->count < kMaxFields && request.size() == record.request.size()) {
    mask_fields(request, end, Cut(*cut, record.request.data()), command, MessagePart::kRequest);
  } else {
    mask_fields(request, end, Hashes(request.data(), 1, end), command, MessagePart::kRequest);
  }
}

}  // namespace palisim
