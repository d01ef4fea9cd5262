#include "stress/request_mix.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

namespace palisim::stress {

namespace {

// A cycle longer than this would make the order table large for no gain.
constexpr uint64_t kMaxTotalWeight = 1'000'000;

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The command code of "<CODE#...>", or "" when the text has no '<'.
std::string_view request_code(std::string_view request) {
  size_t lt = request.find('<');
  if (lt == std::string_view::npos) return {};
  size_t end = request.find_first_of("#>", lt + 1);
  if (end == std::string_view::npos) end = request.size();
  return request.substr(lt + 1, end - lt - 1);
}

}  // namespace

std::string reply_code_for(std::string_view code) {
  std::string c = upper(code);
  if (c.empty() || c == "00") return c;
  if (c == "5E") return "6D";
  if (c == "99") return "A8";
  char& first = c[0];
  if (first == '9') {
    first = 'A';
  } else if ((first >= '0' && first < '9') || (first >= 'A' && first < 'F')) {
    ++first;
  }
  return c;
}

void RequestMix::add(uint32_t weight, std::string_view request) {
  entries_.push_back({text_.size(), request.size() + 2, reply_code_for(request_code(request))});
  text_.append(request);
  text_.append("\r\n");
  weights_.push_back(weight);
  longest_ = std::max(longest_, request.size() + 2);
}

void RequestMix::set_single(std::string_view request) {
  // The command line's text already carries its CR LF.
  if (request.size() >= 2 && request.substr(request.size() - 2) == "\r\n") {
    request.remove_suffix(2);
  }
  add(1, request);
  build_order();
}

bool RequestMix::load_file(const char* path) {
  std::ifstream in(path);
  if (!in) {
    std::printf("cannot read mix file '%s'\n", path);
    return false;
  }
  std::string line;
  uint64_t total = 0;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view rest(line);
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    if (rest.empty()) continue;
    uint32_t weight = 1;
    size_t tab = rest.find('\t');
    if (tab != std::string_view::npos && tab > 0 &&
        rest.substr(0, tab).find_first_not_of("0123456789") == std::string_view::npos) {
      uint64_t w = 0;
      for (char c : rest.substr(0, tab))
        w = std::min<uint64_t>(w * 10 + static_cast<uint64_t>(c - '0'), kMaxTotalWeight + 1);
      total += w;
      if (total > kMaxTotalWeight) {
        std::printf("mix file '%s': weights add up to more than %llu\n", path,
                    static_cast<unsigned long long>(kMaxTotalWeight));
        return false;
      }
      weight = static_cast<uint32_t>(w);
      rest.remove_prefix(tab + 1);
    } else {
      ++total;
    }
    if (weight == 0) continue;
    if (rest.empty()) {
      std::printf("mix file '%s' line %d: no request\n", path, number);
      return false;
    }
    add(weight, rest);
  }
  if (entries_.empty()) {
    std::printf("mix file '%s' holds no request\n", path);
    return false;
  }
  build_order();
  build_groups();
  return true;
}

void RequestMix::build_groups() {
  constexpr size_t kNameLen = 48;
  const bool by_code = entries_.size() > kMaxFigureLines;
  std::vector<std::string>& names = group_names_;
  for (MixEntry& e : entries_) {
    std::string_view r = request(e).substr(0, e.len - 2);
    std::string name =
        by_code ? "<" + upper(request_code(r)) + "#...>"
                : std::string(r.substr(0, kNameLen)) + (r.size() > kNameLen ? "..." : "");
    auto found = by_code ? std::find(names.begin(), names.end(), name) : names.end();
    if (by_code && found == names.end() && names.size() >= kMaxFigureLines - 1) {
      found = std::find(names.begin(), names.end(), "other codes");
      name = "other codes";
    }
    if (found == names.end()) found = names.insert(names.end(), name);
    e.group = static_cast<uint32_t>(found - names.begin());
  }
}

// Copy k of an entry of weight w belongs at (k + 1/2) / w of the cycle, so
// an entry's copies lie evenly apart; a counting sort of those places into
// the cycle's total slots takes time linear in the total and the entries
// (ties go in file order).
void RequestMix::build_order() {
  uint64_t total = 0;
  for (uint32_t w : weights_)
    total += w;
  auto slot = [total](uint64_t k, uint32_t w) { return (2 * k + 1) * total / (2 * uint64_t{w}); };
  std::vector<uint32_t> starts(total + 1, 0);
  for (uint32_t w : weights_) {
    for (uint64_t k = 0; k < w; ++k)
      ++starts[slot(k, w) + 1];
  }
  for (uint64_t s = 1; s <= total; ++s)
    starts[s] += starts[s - 1];
  order_.assign(total, 0);
  for (size_t i = 0; i < weights_.size(); ++i) {
    for (uint64_t k = 0; k < weights_[i]; ++k)
      order_[starts[slot(k, weights_[i])]++] = static_cast<uint32_t>(i);
  }
}

}  // namespace palisim::stress
