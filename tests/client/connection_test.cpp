// What a server sends is bounded: a reply that never ends stops at the cap,
// and the timeout covers the whole reply however slowly its bytes come.
#include "client/connection.h"

#include <gtest/gtest.h>

#include "scripted_peer.h"

namespace palisim::testing {
namespace {

TEST(ClientConnection, RepliesAreBoundedInSizeAndTime) {
  std::vector<ScriptedPeer::Step> trickle = {{0, "<00#"}};
  for (int i = 0; i < 20; ++i)
    trickle.push_back({50, "x"});
  trickle.push_back({0, "#>"});
  const std::pair<std::vector<ScriptedPeer::Step>, ReadResult> cases[] = {
      {{{0, "<00#" + std::string(kMaxReplyBytes, 'x')}}, ReadResult::kTooLong},
      {{{0, std::string(kMaxReplyBytes + 1, '#')}}, ReadResult::kTooLong},
      {trickle, ReadResult::kTimedOut},
  };
  for (const auto& [script, result] : cases) {
    ScriptedPeer server(script);
    ClientConnection connection;
    std::string error, reply;
    ASSERT_TRUE(connection.open("127.0.0.1", server.port(), error)) << error;
    EXPECT_EQ(connection.read_reply(reply, 400), result) << script[0].bytes.substr(0, 8);
  }
}

}  // namespace
}  // namespace palisim::testing
