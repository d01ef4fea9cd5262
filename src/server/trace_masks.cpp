#include "server/trace_masks.h"

#include <algorithm>
#include <cstring>
#include <string_view>

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

// Fields of a request's text between '<' and '>', counted as the dispatcher
// counts them but for text after the last '#', which counts as one more, and
// without an echo field.
int field_count(std::string_view body) {
  int count = static_cast<int>(std::count(body.begin(), body.end(), '#'));
  if (count == 0) return 0;
  std::string_view last_field = body.substr(body.rfind('#') + 1);
  if (!last_field.empty()) {
    ++count;
  } else {
    body = body.substr(0, body.rfind('#'));
    const size_t before = body.rfind('#');
    last_field = before == std::string_view::npos ? body : body.substr(before + 1);
  }
  return last_field.starts_with('^') ? count - 1 : count;
}

// Whether the request's masks, chosen by position, find its secrets: its
// field count is one of its row's forms. Any field of an unknown code, a
// known one mistyped perhaps, may be a secret.
bool masks_fit(std::string_view body, size_t command) {
  if (command >= kCommandCount) return body.find('#') == std::string_view::npos;
  const CommandInfo& row = kCommandCatalog[command];
  if (std::none_of(row.masks.begin(), row.masks.end(),
                   [](const FieldMask& m) { return m.part == MessagePart::kRequest; }))
    return true;
  const int count = field_count(body);
  return count == row.min_fields || std::find(row.longer_forms.begin(), row.longer_forms.end(),
                                              count) != row.longer_forms.end();
}

}  // namespace

void mask_message(std::span<char> message, size_t command, MessagePart part) {
  if (message.empty() || message.front() != '<') return;
  size_t end = message.size();
  if (message.back() == '>') --end;
  if (part == MessagePart::kRequest && !masks_fit({message.data() + 1, end - 1}, command)) {
    // Every field after the code, each keeping its length.
    char* first = static_cast<char*>(std::memchr(message.data(), '#', end)) + 1;
    std::replace_if(
        first, message.data() + end, [](char c) { return c != '#'; }, kMask);
    return;
  }
  if (command >= kCommandCount) return;
  const auto& masks = kCommandCatalog[command].masks;
  auto applies = [part](const FieldMask& m) { return m.part == part; };
  if (std::none_of(masks.begin(), masks.end(), applies)) return;
  // Field starts, found before any is changed: the mode of command 97 is field 1.
  std::array<size_t, 16> starts{};
  size_t count = 0;
  for (size_t at = 1; count < starts.size() && at <= end;) {
    starts[count++] = at;
    const void* hash = std::memchr(message.data() + at, '#', end - at);
    if (!hash) break;
    at = static_cast<size_t>(static_cast<const char*>(hash) - message.data()) + 1;
  }
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

}  // namespace palisim
