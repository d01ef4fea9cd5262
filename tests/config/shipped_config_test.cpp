// The example atalla.conf at the top of the repository loads as documented.
#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "config/config.h"
#include "config_test_support.h"

namespace palisim {
namespace {

const std::string kShippedPath = std::string(PALISIM_SOURCE_DIR) + "/atalla.conf";

TEST(ShippedConfigTest, ServerParametersAreTheDefaults) {
  CapturedOutput output;
  ServerParameters params;
  params.port = 1;
  ASSERT_TRUE(load_server_parameters(params, kShippedPath.c_str()));
  EXPECT_STREQ(params.interface_name, "any");
  EXPECT_EQ(params.port, 7000);
  EXPECT_STREQ(params.logfile, "/var/log/atalla");
  EXPECT_EQ(output.take(), "");
}

TEST(ShippedConfigTest, DefaultSectionHoldsTheTestMfkAndDefaultOptions) {
  CapturedOutput output;
  Settings settings;
  apply_default_settings(settings);
  ASSERT_TRUE(load_settings(settings, kShippedPath.c_str(), "default"));
  EXPECT_EQ(output.take(), "");

  Settings expected;
  apply_default_settings(expected);
  expected.mfk = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98,
                  0x76, 0x54, 0x32, 0x10, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67};
  expected.mfk_len = 24;
  expected.mfk_present = 1;
  expected.pin_sanity = 'L';
  expected.second_pin = 'B';
  // Every key usage may move, so commands 11, 13 and 1A work out of the box.
  std::snprintf(expected.opte0.data(), expected.opte0.size(), "KPdVCIDMA");
  expected.opte1 = expected.opte0;
  expect_same_settings(expected, settings);
}

}  // namespace
}  // namespace palisim
