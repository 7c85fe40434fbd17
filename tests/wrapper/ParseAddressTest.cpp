#include <gtest/gtest.h>

#include <string>

#include "HistoryWrapperTestPeer.h"

namespace marketdata {
namespace {

std::string parse(const std::string& address) {
  return HistoryWrapperTestPeer::parseAddress(address);
}

TEST(ParseAddressTest, KeepsAddressesWithALowerCaseKnownScheme) {
  for (const char* address : {"https://srv:99/x", "http://127.0.0.1:8080", "tcp://h:1", "udp://h",
                              "ws://h", "wss://h/p?q=1", "ssl://h", "http://"}) {
    EXPECT_EQ(parse(address), address);
  }
}

TEST(ParseAddressTest, PrefixesEverythingElse) {
  for (const std::string address :
       {"srv:99", "HTTP://srv", "Https://srv", "ftp://srv", "xhttp://srv", "https://a b",
        "http://a\tb", " http://srv", "http:/srv", "https//srv", ""}) {
    EXPECT_EQ(parse(address), "http://" + address) << "[" << address << "]";
  }
}

}  // namespace
}  // namespace marketdata
