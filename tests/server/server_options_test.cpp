#include "server_options.h"

#include <gtest/gtest.h>

namespace halcyra::server {
namespace {

TEST(ServerOptions, DefaultsWithoutArguments) {
  ParsedOptions parsed = ParseServerOptions({});
  ASSERT_EQ("", parsed.error);
  EXPECT_EQ(10600, parsed.options.port);
  EXPECT_EQ(0u, parsed.options.bindAddress);
  EXPECT_EQ(10000u, parsed.options.maxRecords);
  EXPECT_EQ(600u, parsed.options.expirySeconds);
  EXPECT_EQ(60u, parsed.options.summarySeconds);
  EXPECT_EQ(30u, parsed.options.takeoverSeconds);
  EXPECT_EQ(64u, parsed.options.maxRecordsPerSource);
  EXPECT_EQ(500u, parsed.options.rate);
  EXPECT_EQ(1000u, parsed.options.burst);
  EXPECT_TRUE(parsed.options.allow.empty());
  EXPECT_FALSE(parsed.options.httpEnabled);
  EXPECT_FALSE(parsed.options.help);
}

TEST(ServerOptions, EveryOptionInBothForms) {
  ParsedOptions parsed = ParseServerOptions(
      {"--port", "0", "--bind=127.0.0.1", "--max-records", "5", "--expiry-seconds=30", "--summary-seconds",
       "0", "--takeover-seconds", "0", "--max-records-per-source=0", "--rate", "0", "--burst=7", "--allow",
       "10.1.0.0/16", "--allow=192.0.2.7", "--http", "127.0.0.1:0"});
  ASSERT_EQ("", parsed.error);
  EXPECT_EQ(0, parsed.options.port);
  EXPECT_EQ(0x7F000001u, parsed.options.bindAddress);
  EXPECT_EQ(5u, parsed.options.maxRecords);
  EXPECT_EQ(30u, parsed.options.expirySeconds);
  EXPECT_EQ(0u, parsed.options.summarySeconds);
  EXPECT_EQ(0u, parsed.options.takeoverSeconds);
  EXPECT_EQ(0u, parsed.options.maxRecordsPerSource);
  EXPECT_EQ(0u, parsed.options.rate);
  EXPECT_EQ(7u, parsed.options.burst);
  EXPECT_EQ((std::vector<std::string>{"10.1.0.0/16", "192.0.2.7"}), parsed.options.allow);
  EXPECT_TRUE(parsed.options.httpEnabled);
  EXPECT_EQ(0x7F000001u, parsed.options.httpAddress);
  EXPECT_EQ(0, parsed.options.httpPort);
  EXPECT_TRUE(ParseServerOptions({"--help"}).options.help);
}

TEST(ServerOptions, BadValuesAreNamedInTheError) {
  struct Case {
    std::vector<std::string> arguments;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{
           {{"--port", "65536"}, "--port needs a whole number from 0 to 65535, not \"65536\""},
           {{"--port", "-1"}, "--port"},
           {{"--port", "10600x"}, "--port"},
           {{"--port=", ""}, "--port"},
           {{"--port"}, "--port needs a value"},
           {{"--max-records", "0"}, "--max-records needs a whole number from 1"},
           {{"--expiry-seconds", "0"}, "--expiry-seconds"},
           {{"--summary-seconds", "99999999999999999999999"}, "--summary-seconds"},
           {{"--bind", "localhost"}, "--bind needs a dotted IPv4 address"},
           {{"--burst", "0"}, "--burst needs a whole number from 1"},
           {{"--allow", "10.0.0.0/33"}, "--allow needs an IPv4 network"},
           {{"--allow", "10.0.0/8"}, "--allow needs an IPv4 network"},
           {{"--allow", "10.0.0.0/"}, "--allow needs an IPv4 network"},
           {{"--http", "8080"}, "--http needs ADDRESS:PORT"},
           {{"--http", "127.0.0.1:65536"}, "--http needs ADDRESS:PORT"},
           {{"--verbose"}, "unknown option \"--verbose\""},
           {{"10600"}, "unexpected argument \"10600\""},
       }) {
    ParsedOptions parsed = ParseServerOptions(c.arguments);
    EXPECT_NE(std::string::npos, parsed.error.find(c.expected)) << parsed.error;
  }
}

}  // namespace
}  // namespace halcyra::server
