// When the RTSP channel gives up on UDP and when it tries UDP again.
#include <gtest/gtest.h>

#include "channels/TransportChoice.h"

using zentavo::CTransportChoice;

TEST(TransportChoice, SwitchesAfterTwoSilentPlaysAndBackAfterATcpSessionThatCarriedPackets) {
    struct Session {
        bool played, packets;
        bool interleavedAfter;
    };
    const Session sessions[] = {
        {true, false, false},   // one silent UDP play is not enough
        {false, false, false},  // a refused session says nothing about UDP
        {true, false, true},    // the second silent play in a row: TCP
        {true, true, false},    // a TCP session that carried packets ended: UDP again
        {true, true, false},    // UDP works: stays
        {true, false, false},
        {true, true, false},    // packets in between restart the count
        {true, false, false},
        {true, false, true},
        {true, false, true},    // TCP silent as well: twice, and UDP is tried again
        {true, false, false},
        {true, false, false},
        {true, false, true},
    };
    CTransportChoice choice;
    EXPECT_FALSE(choice.UseInterleaved());
    int i = 0;
    bool sawTcpSilence = false;
    for (const Session& s : sessions) {
        if (choice.UseInterleaved() && !s.packets) sawTcpSilence = true;
        choice.OnSessionEnded(s.played, s.packets);
        EXPECT_EQ(choice.UseInterleaved(), s.interleavedAfter) << "session " << i;
        ++i;
    }
    EXPECT_TRUE(sawTcpSilence);
    choice.Reset();
    EXPECT_FALSE(choice.UseInterleaved());
}
