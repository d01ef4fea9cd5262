// The requests a load run sends and in what proportion: the one --cmd
// command, or the lines of a mix file, each "REQUEST" or "WEIGHT<TAB>REQUEST".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palisim::stress {

struct MixEntry {
  size_t offset;           // into RequestMix::text
  size_t len;              // CR LF included
  std::string reply_code;  // the code a successful reply starts with
  uint32_t group = 0;      // the line of the figures it is counted in
};

// A mix of up to this many requests is broken down request by request;
// a longer one by command code, the codes past this many together.
inline constexpr size_t kMaxFigureLines = 64;

class RequestMix {
 public:
  // One request, sent every time; text already ends in CR LF.
  void set_single(std::string_view request);
  // Reads the file; false after printing why it cannot be used.
  bool load_file(const char* path);

  // The request at a connection's sequence number n. Every connection runs
  // through the same order, in which each request appears WEIGHT times per
  // cycle, spread out rather than bunched.
  const MixEntry& at(uint64_t n) const { return entries_[order_[n % order_.size()]]; }
  std::string_view request(const MixEntry& e) const { return {text_.data() + e.offset, e.len}; }
  size_t longest() const { return longest_; }
  // The lines of the figures: each request of the file, or each command code.
  size_t groups() const { return group_names_.size(); }
  const std::string& group_name(size_t g) const { return group_names_[g]; }

 private:
  void add(uint32_t weight, std::string_view request);
  void build_order();
  void build_groups();

  std::string text_;
  std::vector<MixEntry> entries_;
  std::vector<uint32_t> weights_;
  std::vector<uint32_t> order_;  // entry indexes, one cycle
  size_t longest_ = 0;
  std::vector<std::string> group_names_;
};

// The code that answers a request code: the first character one higher
// (9 becomes A), except for the echo 00 and the verifying commands that
// share the code of their sibling (5E answers 6D, 99 answers A8).
std::string reply_code_for(std::string_view request_code);

}  // namespace palisim::stress
