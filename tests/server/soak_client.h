// A soak client: pipelines its whole request stream over a non-blocking
// socket while it reads the replies and checks each against the expected one.
#pragma once

#include <string>
#include <vector>

#include "expected_reply.h"

namespace palisim::testing {

struct SoakScript {
  std::string stream;         // the requests on carriage-return lines, as sent
  std::vector<int> expected;  // the sample index of each request, in order
};

enum class SoakStyle {
  kFast,        // reads as fast as replies come
  kSlowReader,  // a small receive buffer, a little at a time, with pauses
  kHangUp,      // closes after a third of its replies
  kReset,       // the same, with a reset instead of an orderly close
};

struct SoakOutcome {
  int replies_checked = 0;     // replies received and compared, in order
  int mismatches = 0;          // replies unlike the expected one
  size_t extra_bytes = 0;      // bytes after the last expected reply
  bool timed_out = false;      // 20 seconds passed without progress
  bool closed_early = false;   // the server ended the stream before the last reply
  std::string first_mismatch;  // what the first mismatch was
};

SoakOutcome run_soak_client(int port, const SoakScript& script, SoakStyle style,
                            const std::vector<ExpectedReply>& replies);

}  // namespace palisim::testing
