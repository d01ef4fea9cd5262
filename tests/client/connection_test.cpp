// A server that sends a byte now and then cannot hold a reply past its timeout.
#include "client/connection.h"

#include <gtest/gtest.h>

#include "scripted_peer.h"

namespace palisim::testing {

TEST(ClientConnection, TheTimeoutCoversTheWholeReply) {
  ScriptedPeer::Script trickle(20, {50, "x"});
  trickle.front().second = "<00#";
  trickle.push_back({0, "#>"});
  ScriptedPeer server(trickle);
  ClientConnection connection;
  std::string error, reply;
  ASSERT_TRUE(connection.open("127.0.0.1", server.port(), error)) << error;
  ASSERT_TRUE(connection.send_line("<00#x#>"));
  EXPECT_EQ(connection.read_reply(reply, 400), ReadResult::kTimedOut) << reply;
}

}  // namespace palisim::testing
