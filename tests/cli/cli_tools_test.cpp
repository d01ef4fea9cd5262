// The offline tools: published vectors, ISO 9564 format 3, the key block
// recipe of the protocol guide rebuilt with OpenSSL, and bad input.
#include <gtest/gtest.h>

#include "cli_run.h"
#include "des_oracle.h"
#include "hex_text.h"
#include "payments/pin_block.h"

namespace palisim::testing {
namespace {

const std::string kShippedMfk = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
const std::string kPinKeyA = "042666B49184CF5C68DE9628D0397B36";  // in kPinKeyABlock

TEST(CliTools, PublishedVectors) {
  struct Row {
    std::vector<std::string> args;
    std::string out;
  };
  const std::string pin = "--pin", pan = "--pan";
  const Row rows[] = {
      // Check values: NIST SP 800-17 (DES of zeros), the X9.9 and X9.24 keys.
      {{"key", "kcv", "8001010101010101"}, "95A8D7\n"},
      {{"key", "kcv", "0123456789ABCDEF"}, "D5D44F\n"},
      {{"key", "kcv", kBdk}, "08D7B4\n"},
      // ISO 9564 format 0: a card number and the X9.24 example's account digits.
      {{"pin", "block", pin, "1234", pan, "43219876543210987"}, "0412AC89ABCDEF67\n"},
      {{"pin", "block", pin, "1234", pan, "401234567890"}, "041274EDCBA9876F\n"},
      {{"pin", "block", pin, "1234", pan, "4012345678909", "--key", kPinKeyA},
       "1B9C1845EB993A7A\n"},
      // ANSI X9.24 DUKPT test data, double and single length.
      {{"dukpt", "--bdk", kBdk, "--ksn", "FFFF9876543210E00002", pin, "1234", pan, "4012345678909"},
       "initial key: 6AC292FAA1315B4D858AB3A3D7D5933A\n"
       "PIN key: C46551CEF9FD244FAA9AD834130D3B38\nPIN block: 10A01C8D02C69107\n"},
      {{"dukpt", "--bdk", kBdk, "--ksn", "FFFF9876543210F00000"},
       "initial key: 6AC292FAA1315B4D858AB3A3D7D5933A\n"
       "PIN key: AA4D58DB653EC7B548C75F2F047DD24A\n"},
      {{"dukpt", "--single", "--bdk", kBdk, "--ksn", "FFFF9876543210E00003", pin, "1234", pan,
        "4012345678909"},
       "initial key: 6AC292FAA1315B4D\nPIN key: 1998AA279AA21032\nPIN block: 925BC2A39652CF75\n"},
      // The guide's PIN key A, wrapped, formed and opened under the shipped MFK.
      {{"--config", kShippedConfig, "key", "wrap", "--kcv", "1PUNE000", kPinKeyA},
       kPinKeyABlock + "\nA10107\n"},
      {{"--mfk", kShippedMfk, "key", "form", "1PUNE000", kBdk, kPinKeyA, kBdk},
       kPinKeyABlock + "\nkey check value: A10107\ncomponent 1 check value: 08D7B4\n"
                       "component 2 check value: A10107\ncomponent 3 check value: 08D7B4\n"},
      {{"--config", kShippedConfig, "key", "open", kPinKeyABlock}, kPinKeyA + "\nA10107\n"},
  };
  for (const Row& row : rows) {
    const Outcome r = cli(row.args);
    EXPECT_EQ(r.status, 0) << row.args[1];
    EXPECT_EQ(r.out, row.out) << row.args[1];
    EXPECT_EQ(r.err, "") << row.args[1];
  }
}

TEST(CliTools, FormatThreeHoldsThePinAndRandomFill) {
  const std::string account = "401234567890";
  const Outcome a = cli({"pin", "block", "--pin", "1234", "--pan", account, "--format", "3"});
  const Outcome b = cli({"pin", "block", "--pin", "1234", "--pan", account, "--format", "3"});
  EXPECT_NE(a.out, b.out);  // ten fill nibbles of six values each
  for (const Outcome& r : {a, b}) {
    ASSERT_EQ(r.out.size(), 17u) << r.err;
    uint8_t block[8];
    hex_to_binary(block, r.out.data(), 16);
    PinText pin;
    EXPECT_EQ(extract_pin(block, account, pin), kPinValid);
    EXPECT_EQ(pin.view(), "1234");
    EXPECT_EQ(get_nibble(block, 0), 3);
    for (int i = 6; i < 16; ++i)  // the PIN field's fill: block XOR account digit
      EXPECT_GE(get_nibble(block, i) ^ (account[i - 4] - '0'), 0xA) << r.out;
  }
}

std::string xor_each_byte(const std::string& hex, uint8_t mask) {
  std::string bytes = bytes_from_hex(hex);
  for (char& c : bytes)
    c = static_cast<char>(c ^ mask);
  return to_hex(bytes);
}

// The steps of "How a key block is formed", done with OpenSSL.
std::string recipe_block(const std::string& mfk_hex, const std::string& header,
                         const std::string& key_hex, std::string* ke_km = nullptr) {
  const std::string w = mfk_hex + std::string(48 - mfk_hex.size(), '0');
  const std::string ke = xor_each_byte(w, 'E'), km = xor_each_byte(w, 'M');
  if (ke_km) *ke_km = ke + " " + km;
  std::string padded = key_hex;
  while (padded.size() < 48)
    padded += key_hex.size() == 16 ? "53" : "44";
  const std::string enciphered = oracle_cbc(ke, to_hex(header), padded, true);
  const std::string mac =
      oracle_cbc(km, std::string(16, '0'), to_hex(header) + enciphered, true).substr(48);
  return header + "," + enciphered + "," + mac;
}

TEST(CliTools, KeyBlocksFollowTheGuidesRecipe) {
  const std::string guide = slurp(kSourceDir + "/docs/protocol.md");
  std::string ke_km;
  EXPECT_EQ(recipe_block(kShippedMfk, "1PUNE000", kPinKeyA, &ke_km), kPinKeyABlock);
  EXPECT_NE(guide.find("| KE | `" + ke_km.substr(0, 48) + "` |"), std::string::npos);
  EXPECT_NE(guide.find("| KM | `" + ke_km.substr(49) + "` |"), std::string::npos);
  // Each key length, under an MFK of each length (zero bytes fill it to 24).
  for (const std::string& mfk : {kShippedMfk, kBdk, kBdk.substr(0, 16)}) {
    for (const std::string& key : {kBdk.substr(0, 16), kBdk, kShippedMfk}) {
      const Outcome r = cli({"--mfk", mfk, "key", "wrap", "1MDNE000", key});
      EXPECT_EQ(r.out, recipe_block(mfk, "1MDNE000", key) + "\n") << mfk << " " << key;
    }
  }
}

TEST(CliTools, BadInputGetsOneLineAndStatusTwo) {
  const std::string no_mfk = temp_file("atalla default {\n  opt21 = true\n}\n");
  std::string changed = kPinKeyABlock;
  changed.back() = 'B';
  struct Row {
    std::vector<std::string> args;
    std::string says;
  };
  const Row rows[] = {
      {{"key", "kcv", "0123"}, "CLEARKEY must be 16, 32 or 48 hex digits, not 4"},
      {{"key", "kcv", "0123456789ABCDEG"}, "CLEARKEY must be hex digits only"},
      {{"--config", kShippedConfig, "key", "wrap", "1PUXE000", kBdk},
       "header 1PUXE000 is refused by every key field of usage P: 30 (field 1), 31 (fields 2, "
       "3), 32 (field 4), 37 (field 4), 90 (field 3)"},
      {{"--config", kShippedConfig, "key", "wrap", "1ZDNE000", kBdk}, "usage letter Z"},
      {{"--config", kShippedConfig, "key", "open", changed}, "does not verify under this MFK"},
      {{"--config", kShippedConfig, "key", "open", kPinKeyABlock.substr(1)}, "74 characters"},
      {{"--config", no_mfk, "key", "wrap", "1PUNE000", kBdk}, "no MFK in " + no_mfk},
      {{"--config", "no-such.conf", "key", "open", kPinKeyABlock}, "could not be read"},
      {{"--mfk", kBdk, "--config", kShippedConfig, "key", "open", kPinKeyABlock}, "not both"},
      {{"pin", "block", "--pin", "123", "--pan", "401234567890"}, "--pin must be 4 to 12"},
      {{"pin", "block", "--pin", "1234", "--pan", "40123456789"}, "--pan must be 12"},
      {{"dukpt", "--bdk", kBdk, "--ksn", "FFFF9876543210E00000"}, "transaction counter of 0"},
      {{"dukpt", "--bdk", kBdk, "--ksn", "FFFF9876543210E0000G"}, "--ksn must be 10 to 20 hex"},
      {{"--port", "0", "<00#x#>"}, "--port must be 1 to 65535, not 0"},
      {{"--kcv", "<00#x#>"}, "--kcv does not apply to sending requests"},
      {{"hello"}, "'hello' is no request"},
      {{"--bogus"}, "unknown option --bogus"},
  };
  for (const Row& row : rows) {
    const Outcome r = cli(row.args);
    EXPECT_EQ(r.status, 2) << row.says;
    EXPECT_EQ(r.out, "") << row.says;
    EXPECT_EQ(r.err.rfind("palisim-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
  unlink(no_mfk.c_str());
}

// Without --config or --mfk the tools read atalla.conf of the working
// directory (this one has none), else the installed file, and say which.
TEST(CliTools, InstalledConfigurationAndSingleLengthKeys) {
  const std::string installed = cli({"key", "open", kPinKeyABlock}).err;
  EXPECT_EQ(installed.rfind("palisim-cli: no atalla.conf here; using /etc/palisim/atalla.conf\n"),
            0u);
  const Outcome single = cli({"--mfk", kShippedMfk, "key", "wrap", "1PUNE000", "0123456789ABCDEF"});
  EXPECT_NE(single.err.find("refuse it unless opt6c is on (it is off)\n"), std::string::npos);
}

}  // namespace
}  // namespace palisim::testing
