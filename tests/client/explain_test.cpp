// Replies explained by name: commands that share a reply code, the echo
// field, error replies with and without their detail, an unknown reply code.
#include "client/explain.h"

#include <gtest/gtest.h>

namespace palisim {
namespace {

TEST(ExplainReply, FieldsByNameAndErrorsInWords) {
  struct Row {
    const char* request;
    const char* reply;
    const char* explained;
  };
  const Row rows[] = {
      {"<5E#3#K##41234567890123458701101#561#>", "<6D#Y#08D7##>",
       "  reply code: 6D (command 5E, verify a card verification value)\n"
       "  1 match: Y\n  2 check value: 08D7\n  3 empty: \n"},
      {"", "<6D#56149820#08D7##^e#>",
       "  reply code: 6D (command 5D, generate a card verification value)\n"
       "  1 eight digits, the CVV first: 56149820\n  2 check value: 08D7\n  3 empty: \n"
       "  echo field: ^e\n"},
      {"", "<00#060235#0620##>",
       "  error: type 06, field 02, detail 0620: key block header not accepted\n"},
      {"", "<00#030135#>",
       "  error: type 03, field 01, detail not sent (opt21 off): one of value not accepted or "
       "value refused\n"},
      {"", "<00#060235#>",
       "  error: type 06, field 02, detail not sent (opt21 off): one of key length not accepted, "
       "key block header not accepted or key block check failed\n"},
      {"", "<00#060035#>",
       "  error: type 06, field 00, detail not sent (opt21 off): no MFK loaded\n"},
      {"", "<00#990035#0999##>", "  error: type 99, field 00, detail 0999\n"},
      {"", "<QQ#1#>", "  reply code: QQ\n  1 field: 1\n"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(explain_reply(row.request, row.reply), row.explained) << row.reply;
}

}  // namespace
}  // namespace palisim
