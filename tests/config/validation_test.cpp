// Values read from the file are checked; refusals print their message
// exactly and fail the whole file.
#include <gtest/gtest.h>

#include "config/inject_rules.h"
#include "config_test_support.h"

namespace palisim {
namespace {

using ValidationTest = ConfigFileTest;

TEST_F(ValidationTest, PortOutsideOneTo65535IsRefusedNamingTheRootSection) {
  EXPECT_EQ(refusal("port = 0\n"), "invalid port 0 in section 'root'");
  EXPECT_EQ(refusal("port = 65536\n"), "invalid port 65536 in section 'root'");
  EXPECT_EQ(refusal("port = -1\n"), "invalid port -1 in section 'root'");
  EXPECT_EQ(refusal("port = 4294967297\n"), "invalid port 4294967297 in section 'root'");
  EXPECT_TRUE(accepts("port = 1\n"));
  EXPECT_TRUE(accepts("port = 65535\n"));
}

TEST_F(ValidationTest, IdleTimeoutIsZeroToOneDay) {
  EXPECT_EQ(refusal("idle_timeout = -1\n"), "idle timeout must be 0 to 86400 seconds");
  EXPECT_EQ(refusal("idle_timeout = 86401\n"), "idle timeout must be 0 to 86400 seconds");
  EXPECT_TRUE(accepts("idle_timeout = 0\nidle_timeout = 86400\n"));
}

TEST_F(ValidationTest, TlsOptionsAreChecked) {
  EXPECT_EQ(refusal("tls_port = 65536\n"),
            "invalid tls_port 65536 (1 to 65535, or 0 for a free port)");
  for (const char* n : {"0", "64", "-1"}) {
    EXPECT_EQ(refusal(std::string("tls_max_connections = ") + n + "\n"),
              std::string("invalid tls_max_connections ") + n +
                  " (1 to 63: plain clients keep the other slots)");
  }
  EXPECT_EQ(refusal("tls_auth_clients = \"maybe\"\n"),
            "tls_auth_clients must be yes, optional or no");
  const std::string protocols =
      "tls_protocols must be TLSv1.2, TLSv1.3 or both; nothing older is accepted";
  EXPECT_EQ(refusal("tls_protocols = \"TLSv1.1 TLSv1.2\"\n"), protocols);
  EXPECT_EQ(refusal("tls_protocols = \" \"\n"), protocols);
  EXPECT_TRUE(
      accepts("tls_port = 0\ntls_port = 7443\ntls_auth_clients = \"Optional\"\n"
              "tls_max_connections = 1\ntls_max_connections = 63\n"
              "tls_protocols = \"tlsv1.3\"\n"));
}

TEST_F(ValidationTest, MetricsIsEmptyOrAddressColonPort) {
  const std::string message = "metrics must be ADDRESS:PORT with a port of 1 to 65535";
  for (const char* bad : {"9464", "127.0.0.1", "127.0.0.1:", ":9464", "127.0.0.1:0",
                          "127.0.0.1:65536", "127.0.0.1:94x4", "::1:9464", "[]:9464"}) {
    EXPECT_EQ(refusal(std::string("metrics = \"") + bad + "\"\n"), message) << bad;
  }
  for (const char* good : {"", "127.0.0.1:9464", "localhost:1", "[::1]:65535"})
    EXPECT_TRUE(accepts(std::string("metrics = \"") + good + "\"\n")) << good;
}

// The control port's options: each refusal with its message, and values at their bounds.
TEST_F(ValidationTest, ControlOptionsAreChecked) {
  const std::pair<const char*, const char*> refused[] = {
      {"control = \"7010\"", "control must be ADDRESS:PORT with a port of 0 to 65535"},
      {"control = \"127.0.0.1:65536\"", "control must be ADDRESS:PORT with a port of 0 to 65535"},
      {"control_token = \"two words\"", "control token must be printable text without blanks"},
      {"journal_size = -1", "journal size must be 0 to 100000"},
      {"journal_size = 100001", "journal size must be 0 to 100000"},
      {"random_seed = \"0123456789abcde\"", "random seed must be 16 to 64 hex digits"},
      {"random_seed = \"0123456789abcdeg\"", "random seed must be 16 to 64 hex digits"},
  };
  for (const auto& [line, message] : refused)
    EXPECT_EQ(refusal(std::string(line) + "\n"), message) << line;
  EXPECT_TRUE(
      accepts("control = \"127.0.0.1:0\"\ncontrol_token = \"s3cr3t-Token\"\njournal_size = 0\n"
              "journal_size = 100000\nrandom_seed = \"" +
              std::string(64, 'f') + "\"\n"));
}

TEST_F(ValidationTest, KeysMustBe16_32Or48HexDigits) {
  const std::string message = "keys must be 16, 32, or 48 hex digits in length";
  EXPECT_EQ(refusal("atalla default { mfk = \"0123456789ABCDEF0123456789ABCDE\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { mfk = \"0123456789ABCDEF0123456789ABCDEF0\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { mfk = \"0123456789ABCDEF0123456789ABCDEG\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { mfk = \"0123456789ABCDE \" }\n"), message);
  EXPECT_EQ(refusal("atalla default { mfk = \"\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { pmfk = \"0123456789ABCDEF01\" }\n"), message);

  EXPECT_TRUE(accepts("atalla default { mfk = \"0123456789ABCDEF\" }\n"));
  EXPECT_TRUE(accepts("atalla default { mfk = \"0123456789abcdef0123456789ABCDEF\" }\n"));
  EXPECT_TRUE(
      accepts("atalla default { mfk = \"0123456789ABCDEFFEDCBA987654321089ABCDEF01234567\" }\n"));
  EXPECT_TRUE(accepts("atalla default { pmfk = \"fedcba9876543210\" }\n"));
}

TEST_F(ValidationTest, KeysAreCheckedInEverySectionNotOnlyTheOneInUse) {
  EXPECT_EQ(refusal("atalla default { }\natalla spare { pmfk = \"12\" }\n"),
            "keys must be 16, 32, or 48 hex digits in length");
}

TEST_F(ValidationTest, MinimumPinLengthIsFourToTwelve) {
  const std::string message = "min PIN len must be 4 to 12";
  EXPECT_EQ(refusal("atalla default { opta0 = 3 }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta0 = 13 }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta0 = -4 }\n"), message);
  // 260 would read as 4 once cut to 8 bits; it is refused before that.
  EXPECT_EQ(refusal("atalla default { opta0 = 260 }\n"), message);
  EXPECT_TRUE(accepts("atalla default { opta0 = 4 }\n"));
  EXPECT_TRUE(accepts("atalla default { opta0 = 12 }\n"));
}

TEST_F(ValidationTest, PinSanityIndicatorIsOneUpperCaseSOrL) {
  const std::string message = "PIN sanity indicator must be S or L";
  EXPECT_EQ(refusal("atalla default { opta1 = \"s\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta1 = \"l\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta1 = \"SL\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta1 = \"B\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta1 = \"\" }\n"), message);
  EXPECT_TRUE(accepts("atalla default { opta1 = \"S\" }\n"));
  EXPECT_TRUE(accepts("atalla default { opta1 = L }\n"));
}

TEST_F(ValidationTest, SecondPinIndicatorIsOneOfBDS) {
  const std::string message = "second PIN indicator must be B, D or S";
  EXPECT_EQ(refusal("atalla default { opta2 = \"b\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta2 = \"L\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta2 = \"1\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta2 = \"BD\" }\n"), message);
  EXPECT_EQ(refusal("atalla default { opta2 = \"\" }\n"), message);
  EXPECT_TRUE(accepts("atalla default { opta2 = \"B\" }\n"));
  EXPECT_TRUE(accepts("atalla default { opta2 = \"D\" }\n"));
  EXPECT_TRUE(accepts("atalla default { opta2 = \"S\" }\n"));
}

TEST_F(ValidationTest, UsageLettersAcceptAnyText) {
  EXPECT_TRUE(accepts("atalla default { opte0 = \"\" opte1 = \"\" }\n"));
  EXPECT_TRUE(accepts("atalla default { opte0 = \"MDPV #!x 12\" opte1 = \"EI\" }\n"));
}

TEST_F(ValidationTest, DefaultsAreNotChecked) {
  // The empty default key would fail the key check if it were checked.
  EXPECT_TRUE(accepts("atalla default { }\n"));
  EXPECT_TRUE(accepts(""));
}

TEST_F(ValidationTest, UpperCaseNamesAreCheckedToo) {
  EXPECT_EQ(refusal("PORT = 0\n"), "invalid port 0 in section 'root'");
  EXPECT_EQ(refusal("atalla default { OPTA0 = 2 }\n"), "min PIN len must be 4 to 12");
}

// The library's own messages pass through unchanged, with no file name,
// line number or line feed added.
TEST_F(ValidationTest, LibraryMessagesArePrintedAsTheyCome) {
  EXPECT_EQ(refusal("atalla default { }\natalla default { }\n"), "found duplicate title 'default'");
  EXPECT_EQ(refusal("atalla default { }\natalla DEFAULT { }\n"), "found duplicate title 'DEFAULT'");
  EXPECT_EQ(refusal("bogus = 1\n"), "no such option 'bogus'");
  EXPECT_EQ(refusal("atalla default { opt21 = maybe }\n"),
            "invalid boolean value for option 'opt21'");
  EXPECT_EQ(refusal("atalla { }\n"), "missing title for section 'atalla'");
}

// An inject section is refused as a whole, naming the option and its value;
// a rule of the command line meets the same checks.
TEST_F(ValidationTest, InjectRulesAreCheckedOptionByOptionAndWhole) {
  struct Case {
    std::string section, rule, message;  // the file's form, the command line's; either may be ""
  };
  const Case cases[] = {
      {"command = \"x7\" close = true", "x7:close",
       "inject command must be * or a command code such as 31, not 'x7'"},
      {"close = true", "", "inject section without a command"},
      {"command = \"31\" probability = 1.5 close = true", "31:probability=1.5,close",
       "inject probability must be 0 to 1, not 1.5"},
      {"command = \"31\" latency_ms = -1", "", "inject latency_ms must be 0 to 3600000, not -1"},
      {"", "31:latency_ms=077",
       "inject latency_ms must be a decimal number without leading zeros, not '077'"},
      {"", "31:command=00,close=true", "the command is the code before the colon, not an item"},
      {"", "31:close=yes", "inject close must be true or false, not 'yes'"},
      {"command = \"31\" jitter_ms = 3600001", "31:jitter_ms=3600001",
       "inject jitter_ms must be 0 to 3600000, not 3600001"},
      {"command = \"31\" reply = \"\"", "31:reply=", "inject reply must not be empty"},
      {"command = \"31\" reply = \"<00#\\n>\"", "",
       "inject reply must be printable text without line ends or tabs"},
      {"command = \"31\" probability = 0.5", "31",
       "inject section for command 31 does nothing: give latency_ms, jitter_ms, reply, close or "
       "approve"},
      {"command = \"31\" close = true approve = true", "31:close,approve",
       "inject section for command 31 gives more than one of reply, close and approve"},
      {"command = \"30\" approve = true", "30:approve",
       "inject section for command 30 cannot approve: approve takes 31, 32, 37, 5E, 99 or *"},
      {"", "31:bogus=1", "no such option 'bogus'"},
      {"", "31:latency ms=1", "'latency ms=1' is not NAME=VALUE"},
      {"command = \"31\" close = true times = 0", "31:close,times=0",
       "inject times must be 1 to 1000000000, not 0"},
      {"command = \"31\" close = true times = 1000000001", "31:close,times=1000000001",
       "inject times must be 1 to 1000000000, not 1000000001"},
  };
  for (const Case& c : cases) {
    if (!c.section.empty()) {
      EXPECT_EQ(refusal("atalla default { inject { " + c.section + " } }\n"), c.message);
    }
    if (c.rule.empty()) continue;
    InjectRule rule;
    std::string error;
    EXPECT_FALSE(parse_inject_rule(c.rule, rule, error));
    EXPECT_EQ(error, c.message) << c.rule;
  }

  // Taken as written: no environment, no escapes.
  InjectRule literal;
  std::string error;
  ASSERT_TRUE(parse_inject_rule("00:reply=<${HOME}\\n>,probability=0.50", literal, error)) << error;
  EXPECT_STREQ(literal.reply.data(), "<${HOME}\\n>");
  EXPECT_EQ(literal.probability, 0.5);
  EXPECT_EQ(literal.times, 0);
  ASSERT_TRUE(parse_inject_rule("31:close,times=1000000000", literal, error)) << error;
  EXPECT_EQ(literal.times, 1'000'000'000);

  std::string sixteen;
  for (int i = 0; i < 16; ++i)
    sixteen += " inject { command = \"*\" latency_ms = 3600000 probability = 0 }";
  EXPECT_TRUE(accepts("atalla default {" + sixteen + " }\n"));
  EXPECT_EQ(refusal("atalla spare {" + sixteen + " inject { command = \"00\" close = on } }\n"),
            "more than 16 inject sections in section 'spare'");
}

TEST_F(ValidationTest, NamesAndTitlesIgnoreCaseAndBooleansTakeEveryNotation) {
  EXPECT_TRUE(accepts("Port = 7001\nINTERFACE = localhost\nLogFile = \"/tmp/x\"\n"));
  EXPECT_TRUE(accepts("ATALLA Default { OPT21 = YES opt23 = on opt62 = False opt63 = no }\n"));
  EXPECT_TRUE(accepts("atalla default { opt21 = true } # a comment\n// another\n"));
}

}  // namespace
}  // namespace palisim
