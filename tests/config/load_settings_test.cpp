// Loading a connection's settings record from the titled `atalla` section.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>

#include "config/config.h"
#include "config/inject_rules.h"
#include "config/settings_cache.h"
#include "config_test_support.h"
#include "dispatch/command_table.h"

namespace palisim {
namespace {

class LoadSettingsTest : public ConfigFileTest {
 protected:
  LoadSettingsTest() { apply_default_settings(settings_); }

  // Loads the "default" section of a file holding text into settings_.
  bool load(std::string_view text) {
    return load_settings(settings_, write_conf(text).c_str(), "default");
  }

  Settings settings_;
};

template <size_t N>
std::array<uint8_t, 24> key_bytes(const uint8_t (&bytes)[N]) {
  std::array<uint8_t, 24> key{};
  memcpy(key.data(), bytes, N);
  return key;
}

TEST_F(LoadSettingsTest, EmptySectionGivesIndicatorsLAndBAndRecordDefaultsElsewhere) {
  ASSERT_TRUE(load("atalla default { }\n"));
  Settings expected;
  apply_default_settings(expected);
  expected.pin_sanity = 'L';
  expected.second_pin = 'B';
  expect_same_settings(expected, settings_);
  EXPECT_EQ(output_.take(), "");
}

TEST_F(LoadSettingsTest, DoubleLengthMfkLeavesBytes16To23Zero) {
  ASSERT_TRUE(load("atalla default { mfk = \"0123456789ABCDEFFEDCBA9876543210\" }\n"));
  const uint8_t expected[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                              0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  EXPECT_EQ(settings_.mfk, key_bytes(expected));
  EXPECT_EQ(settings_.mfk_len, 16);
  EXPECT_EQ(settings_.mfk_present, 1);
  EXPECT_EQ(settings_.pmfk_present, 0);
}

TEST_F(LoadSettingsTest, MfkLengthIsHalfTheDigitsInEitherCase) {
  ASSERT_TRUE(load("atalla default { mfk = \"0123456789abcdef\" }\n"));
  const uint8_t single[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(settings_.mfk, key_bytes(single));
  EXPECT_EQ(settings_.mfk_len, 8);

  ASSERT_TRUE(
      load("atalla default { mfk = \"0123456789ABCDEFFEDCBA987654321089abcdef01234567\" }\n"));
  const uint8_t triple[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98,
                            0x76, 0x54, 0x32, 0x10, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67};
  EXPECT_EQ(settings_.mfk, key_bytes(triple));
  EXPECT_EQ(settings_.mfk_len, 24);
  EXPECT_EQ(settings_.mfk_present, 1);
}

TEST_F(LoadSettingsTest, PendingMfkLoadsOnItsOwn) {
  ASSERT_TRUE(load("atalla default { pmfk = \"FEDCBA9876543210\" }\n"));
  const uint8_t expected[] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  EXPECT_EQ(settings_.pmfk, key_bytes(expected));
  EXPECT_EQ(settings_.pmfk_present, 1);
  EXPECT_EQ(settings_.mfk_present, 0);
  EXPECT_EQ(settings_.mfk_len, 0);
  EXPECT_EQ(settings_.mfk, (std::array<uint8_t, 24>{}));
}

TEST_F(LoadSettingsTest, FlagsFollowTheirNamedKeys) {
  ASSERT_TRUE(
      load("atalla default {\n"
           "  opt21 = true\n  opt23 = yes\n  opt62 = false\n  opt63 = off\n"
           "  opt66 = on\n  opt6c = true\n  opt88 = true\n  opt8e = true\n"
           "  opte2 = true\n  opte4 = true\n"
           "}\n"));
  EXPECT_EQ(settings_.opt20, 0);
  EXPECT_EQ(settings_.opt21, 1);
  EXPECT_EQ(settings_.opt23, 1);
  EXPECT_EQ(settings_.opt62, 0);
  EXPECT_EQ(settings_.opt63, 0);
  EXPECT_EQ(settings_.opt66, 1);
  EXPECT_EQ(settings_.opt6c, 1);
  EXPECT_EQ(settings_.opt88, 1);
  EXPECT_EQ(settings_.opt8c, 0);
  EXPECT_EQ(settings_.opt8e, 1);
  EXPECT_EQ(settings_.opte2, 1);
  EXPECT_EQ(settings_.opte3, 0);
  EXPECT_EQ(settings_.opte4, 1);
}

// Flipping one key away from its default changes its own flag and no other.
TEST_F(LoadSettingsTest, EachFlagKeyReachesOnlyItsOwnFlag) {
  Settings baseline;
  apply_default_settings(baseline);
  ASSERT_TRUE(load_settings(baseline, write_conf("atalla default { }\n").c_str(), "default"));
  for (const OptionFlag& flag : kOptionFlags) {
    SCOPED_TRACE(flag.name);
    bool flipped = baseline.*flag.member == 0;
    std::string text = "atalla default { " + std::string(flag.name) + " = " +
                       (flipped ? "true" : "false") + " }\n";
    Settings loaded;
    apply_default_settings(loaded);
    ASSERT_TRUE(load_settings(loaded, write_conf(text).c_str(), "default"));
    Settings expected = baseline;
    expected.*flag.member = flipped ? 1 : 0;
    expect_same_settings(expected, loaded);
  }
}

TEST_F(LoadSettingsTest, PinOptionsAreStored) {
  ASSERT_TRUE(load("atalla default { opta0 = 12 opta1 = \"S\" opta2 = \"D\" }\n"));
  EXPECT_EQ(settings_.min_pin_len, 12);
  EXPECT_EQ(settings_.pin_sanity, 'S');
  EXPECT_EQ(settings_.second_pin, 'D');
}

TEST_F(LoadSettingsTest, UsageLettersAreCutTo31Characters) {
  const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
  ASSERT_EQ(forty.size(), 40u);
  ASSERT_TRUE(load("atalla default { opte0 = \"" + forty + "\" opte1 = \"EI\" }\n"));
  EXPECT_EQ(std::string(settings_.opte0.data()), forty.substr(0, 31));
  EXPECT_EQ(settings_.opte0[31], '\0');
  EXPECT_EQ(std::string(settings_.opte1.data()), "EI");
}

TEST_F(LoadSettingsTest, UpperCaseTitleAndKeysAreFound) {
  ASSERT_TRUE(load("ATALLA DEFAULT { OPT21 = TRUE OPTA2 = \"D\" }\n"));
  EXPECT_EQ(settings_.opt21, 1);
  EXPECT_EQ(settings_.second_pin, 'D');
}

TEST_F(LoadSettingsTest, OnlyTheSectionWithTheTitleIsUsed) {
  const std::string text =
      "atalla spare { opt21 = true opta0 = 6 }\n"
      "atalla default { opt23 = true }\n"
      "atalla other { opte3 = true }\n";
  ASSERT_TRUE(load(text));
  EXPECT_EQ(settings_.opt21, 0);
  EXPECT_EQ(settings_.opt23, 1);
  EXPECT_EQ(settings_.opte3, 0);
  EXPECT_EQ(settings_.min_pin_len, 4);

  Settings spare;
  apply_default_settings(spare);
  ASSERT_TRUE(load_settings(spare, write_conf(text).c_str(), "spare"));
  EXPECT_EQ(spare.opt21, 1);
  EXPECT_EQ(spare.opt23, 0);
  EXPECT_EQ(spare.min_pin_len, 6);
}

TEST_F(LoadSettingsTest, NoSectionWithTheTitleLeavesTheRecordAlone) {
  settings_ = sentinel_settings();
  EXPECT_FALSE(load("port = 7001\natalla spare { opt21 = true }\n"));
  expect_same_settings(sentinel_settings(), settings_);
  EXPECT_EQ(output_.take(), "");
}

TEST_F(LoadSettingsTest, InvalidFileLeavesTheRecordAlone) {
  settings_ = sentinel_settings();
  EXPECT_FALSE(load("atalla default { opt21 = true opta1 = \"x\" }\n"));
  expect_same_settings(sentinel_settings(), settings_);
  const std::string path = dir_.path_of("atalla.conf");
  EXPECT_EQ(output_.take(), path + ":1: PIN sanity indicator must be S or L\n");

  EXPECT_FALSE(load("atalla default { }\natalla default { }\n"));
  expect_same_settings(sentinel_settings(), settings_);
  EXPECT_EQ(output_.take(), path + ":2: found duplicate title 'default'\n");
}

TEST_F(LoadSettingsTest, MissingFileLeavesTheRecordAlone) {
  settings_ = sentinel_settings();
  std::string path = dir_.path_of("absent.conf");
  EXPECT_FALSE(load_settings(settings_, path.c_str(), "default"));
  expect_same_settings(sentinel_settings(), settings_);
  EXPECT_EQ(output_.take(), "warning: configuration file '" + path + "' could not be read\n");
}

// Every connection parses the file again, so an edit shows in the next load.
TEST_F(LoadSettingsTest, EditedFileGivesTheNextLoadTheNewValues) {
  std::string path = write_conf("atalla default { mfk = \"0123456789ABCDEF\" opt21 = false }\n");
  Settings before;
  apply_default_settings(before);
  ASSERT_TRUE(load_settings(before, path.c_str(), "default"));

  write_conf("atalla default { mfk = \"FEDCBA9876543210FEDCBA9876543210\" opt21 = true }\n");
  Settings after;
  apply_default_settings(after);
  ASSERT_TRUE(load_settings(after, path.c_str(), "default"));

  EXPECT_EQ(before.mfk_len, 8);
  EXPECT_EQ(before.opt21, 0);
  EXPECT_EQ(after.mfk_len, 16);
  EXPECT_EQ(after.mfk[0], 0xFE);
  EXPECT_EQ(after.opt21, 1);
}

// Connections are set up on the server thread while the window may read the
// server parameters; parses on several threads must not disturb each other.
TEST_F(LoadSettingsTest, LoadsOnSeveralThreadsAllSucceed) {
  std::string good = write_conf(
      "port = 7100\natalla default { mfk = \"0123456789ABCDEFFEDCBA9876543210\" opte0 = \"MV\" "
      "}\n");
  std::string bad = dir_.write("bad.conf", "atalla default { opta0 = 99 }\n");
  constexpr int kRounds = 200;
  int settings_failures = 0;
  int parameter_failures = 0;
  int bad_accepted = 0;
  std::thread settings_thread([&] {
    for (int i = 0; i < kRounds; ++i) {
      Settings s;
      apply_default_settings(s);
      bool ok = load_settings(s, good.c_str(), "default") && s.mfk_len == 16 && s.mfk[15] == 0x10 &&
                std::string(s.opte0.data()) == "MV";
      if (!ok) ++settings_failures;
    }
  });
  std::thread parameters_thread([&] {
    for (int i = 0; i < kRounds; ++i) {
      ServerParameters p;
      if (!load_server_parameters(p, good.c_str()) || p.port != 7100) ++parameter_failures;
      Settings s;
      if (load_settings(s, bad.c_str(), "default")) ++bad_accepted;
    }
  });
  settings_thread.join();
  parameters_thread.join();
  EXPECT_EQ(settings_failures, 0);
  EXPECT_EQ(parameter_failures, 0);
  EXPECT_EQ(bad_accepted, 0);
}

// Connections get what the cache parsed last; it parses again only a changed
// file, and a rewrite that keeps the size and restores the modification time
// is a change (the change time moved). A connection without an MFK says why.
TEST_F(LoadSettingsTest, SettingsCacheParsesOnlyAChangedFile) {
  std::string path = write_conf("atalla default { opt21 = true }\n");
  SettingsCache cache(path.c_str(), "default");
  cache.refresh();
  EXPECT_EQ(cache.settings().opt21, 1);
  EXPECT_EQ(cache.no_mfk_reason(), path + " gives no mfk in section 'default'");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  // Rewritten until the clock that stamps the file has ticked.
  const timespec times[2] = {st.st_atim, st.st_mtim};
  struct stat now = st;
  for (int i = 0; i < 100000 && now.st_ctim.tv_sec == st.st_ctim.tv_sec &&
                  now.st_ctim.tv_nsec == st.st_ctim.tv_nsec;
       ++i) {
    write_conf("atalla default { opta1 = \"x!\" }\n");
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_EQ(stat(path.c_str(), &now), 0);
  }
  for (int i = 0; i < 2; ++i) {
    cache.refresh();
    EXPECT_EQ(cache.settings().opt21, 0);
    EXPECT_EQ(cache.no_mfk_reason(), path + ":1 was refused (PIN sanity indicator must be S or L)");
    EXPECT_EQ(output_.take(), i ? "" : path + ":1: PIN sanity indicator must be S or L\n");
  }
}

// The command line's rules come first, then the section's in order; each
// rule's command-line form gives the same rule, the reply cut alike.
TEST_F(LoadSettingsTest, InjectRulesOfTheCommandLineAndTheFile) {
  const std::string reply(200, 'r');
  const std::string texts[] = {"31:close",
                               "5e:probability=0.25,latency_ms=200,jitter_ms=50,approve",
                               "*:reply=<00#0602 35#>", "11B:reply=" + reply};
  InjectRules rules;
  for (const std::string& text : texts) {
    std::string error;
    ASSERT_TRUE(parse_inject_rule(text, rules.rules[static_cast<size_t>(rules.count++)], error));
  }
  std::string path = write_conf(
      "atalla default {\n inject { command = \"5E\" probability = 0.25 latency_ms = 200 jitter_ms "
      "= 50 approve = yes }\n inject { command = \"*\" reply = \"<00#0602 35#>\" }\n inject { "
      "command = \"11b\" reply = \"" +
      reply + "\" }\n}\n");
  InjectRules command_line;
  command_line.add(rules.rules[0]);
  SettingsCache cache(path.c_str(), "default", &command_line);
  cache.refresh();
  ASSERT_EQ(cache.inject_rules().count, 4);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_TRUE(cache.inject_rules().rules[i] == rules.rules[i]) << texts[i];
  EXPECT_EQ(rules.rules[0].command, static_cast<int32_t>(command_row("31")));
  EXPECT_EQ(rules.rules[2].command, kEveryCommand);
  EXPECT_EQ(std::string(rules.rules[3].reply.data()), reply.substr(0, kInjectReplyCapacity - 1));
  EXPECT_EQ(output_.take(), "");
}

}  // namespace
}  // namespace palisim
