// The reply a sample request must get, worked out in-process by dispatch.
// Replies that carry fresh random keys or chaining values differ from one
// run to the next; for those only the shape can be compared.
#pragma once

#include <string>
#include <string_view>

#include "protocol/settings.h"

namespace palisim::testing {

class ExpectedReply {
 public:
  // Dispatches the request twice under the settings. When the two replies
  // agree the reply must match exactly; otherwise fields that differed must
  // keep their length, their hex digits hex and their other characters.
  ExpectedReply(const Settings& s, const std::string& request);

  bool matches(std::string_view reply) const;
  bool exact() const { return varying_.empty(); }
  const std::string& sample() const { return sample_; }

 private:
  std::string sample_;   // the first local reply
  std::string varying_;  // per byte of sample_: 'v' where a differing field lies; empty when exact
};

}  // namespace palisim::testing
