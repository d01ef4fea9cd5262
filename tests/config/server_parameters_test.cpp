// Loading the server parameters from the top level of the file.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "config/config.h"
#include "config_test_support.h"

namespace palisim {
namespace {

class ServerParametersTest : public ConfigFileTest {
 protected:
  // A record holding none of the defaults, so a load that skips a field shows.
  ServerParametersTest() {
    strcpy(params_.interface_name, "stale-interface");
    params_.port = 1234;
    strcpy(params_.logfile, "stale-logfile");
  }

  bool load(std::string_view text) {
    return load_server_parameters(params_, write_conf(text).c_str());
  }

  ServerParameters params_;
};

TEST_F(ServerParametersTest, RecordStartsWithTheDefaults) {
  ServerParameters fresh;
  EXPECT_STREQ(fresh.interface_name, "any");
  EXPECT_EQ(fresh.port, 7000);
  EXPECT_STREQ(fresh.logfile, "/var/log/atalla");
  EXPECT_FALSE(fresh.trace);
}

TEST_F(ServerParametersTest, ValuesComeFromTheFile) {
  ASSERT_TRUE(
      load("interface = \"localhost\"\nport = 7001\nlogfile = \"/tmp/hsm.log\"\n"
           "trace = true\n"));
  EXPECT_TRUE(params_.trace);
  EXPECT_STREQ(params_.interface_name, "localhost");
  EXPECT_EQ(params_.port, 7001);
  EXPECT_STREQ(params_.logfile, "/tmp/hsm.log");
  EXPECT_EQ(output_.take(), "");
}

TEST_F(ServerParametersTest, TlsValuesComeFromTheFileAndClientAuthFollowsTheCa) {
  ASSERT_TRUE(
      load("tls_port = 7443\ntls_certificate = \"s.pem\"\ntls_private_key = \"s.key\"\n"
           "tls_client_ca = \"ca.pem\"\ntls_protocols = \"TLSv1.3\"\ntls_max_connections = 5\n"));
  EXPECT_EQ(params_.tls.port, 7443);
  EXPECT_EQ(params_.tls.max_connections, 5);
  EXPECT_STREQ(params_.tls.certificate, "s.pem");
  EXPECT_STREQ(params_.tls.private_key, "s.key");
  EXPECT_EQ(params_.tls.protocols, kTls13);
  EXPECT_EQ(params_.tls.effective_auth(), TlsClientAuth::kYes);
  ASSERT_TRUE(load("tls_client_ca = \"ca.pem\"\ntls_auth_clients = \"optional\"\n"));
  EXPECT_EQ(params_.tls.effective_auth(), TlsClientAuth::kOptional);
  EXPECT_EQ(params_.tls.protocols, kTls12 | kTls13);
  ASSERT_TRUE(load("port = 7001\n"));
  EXPECT_EQ(params_.tls.port, kNoTlsPort);
  EXPECT_EQ(params_.tls.max_connections, 32);
  EXPECT_EQ(params_.tls.effective_auth(), TlsClientAuth::kNo);
}

TEST_F(ServerParametersTest, KeysTheFileLeavesOutTakeTheirDefaults) {
  ASSERT_TRUE(load("atalla default { opt21 = true }\n"));
  EXPECT_STREQ(params_.interface_name, "any");
  EXPECT_EQ(params_.port, 7000);
  EXPECT_STREQ(params_.logfile, "/var/log/atalla");
}

TEST_F(ServerParametersTest, EdgePortsAreKept) {
  ASSERT_TRUE(load("PORT = 65535\n"));
  EXPECT_EQ(params_.port, 65535);
  ASSERT_TRUE(load("port = 1\n"));
  EXPECT_EQ(params_.port, 1);
}

TEST_F(ServerParametersTest, LongTextsAreCutToTheirFields) {
  const std::string interface(100, 'i');
  const std::string logfile = "/" + std::string(299, 'l');
  ASSERT_TRUE(load("interface = \"" + interface + "\"\nlogfile = \"" + logfile + "\"\n"));
  EXPECT_EQ(std::string(params_.interface_name), interface.substr(0, 63));
  EXPECT_EQ(std::string(params_.logfile), logfile.substr(0, 255));
}

// The whole file is parsed, so a fault in a device section fails the server
// parameters as well.
TEST_F(ServerParametersTest, InvalidFileLeavesTheRecordAlone) {
  EXPECT_FALSE(load("port = 7001\natalla default { mfk = \"ABC\" }\n"));
  EXPECT_EQ(output_.take(),
            dir_.path_of("atalla.conf") + ":2: keys must be 16, 32, or 48 hex digits in length\n");
  EXPECT_STREQ(params_.interface_name, "stale-interface");
  EXPECT_EQ(params_.port, 1234);
  EXPECT_STREQ(params_.logfile, "stale-logfile");
}

TEST_F(ServerParametersTest, MissingFileLeavesTheRecordAlone) {
  std::string path = dir_.path_of("absent.conf");
  EXPECT_FALSE(load_server_parameters(params_, path.c_str()));
  EXPECT_EQ(output_.take(), "warning: configuration file '" + path + "' could not be read\n");
  EXPECT_EQ(params_.port, 1234);
}

}  // namespace
}  // namespace palisim
