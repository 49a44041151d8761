#include <gtest/gtest.h>

#include <winsock2.h>

#include "runtime/TextUtils.h"

using namespace zentavo;

namespace {

TEST(ResolveHost, DottedAddressResolvesToItselfInNetworkOrder) {
    EXPECT_EQ(ResolveHost("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(ResolveHost("192.168.1.20"), htonl(0xC0A80114));
    EXPECT_EQ(ResolveHost("10.0.0.7"), htonl(0x0A000007));
}

TEST(ResolveHost, EmptyOrMalformedNameGivesZero) {
    EXPECT_EQ(ResolveHost(""), 0u);
    EXPECT_EQ(ResolveHost(std::string("127.0.0.1\0x", 11)), 0u);
}

}  // namespace
