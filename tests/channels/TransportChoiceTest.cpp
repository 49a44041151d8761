// Which transport the RTSP channel asks for after each session.
#include <gtest/gtest.h>

#include "channels/TransportChoice.h"

using zentavo::CTransportChoice;

TEST(TransportChoice, StaysOnWhatCarriedPacketsAndLeavesWhatStaysSilent) {
    enum Event { ENDED, UDP_SILENT };
    struct Step {
        Event event;
        bool interleaved, played, packets;
        bool interleavedAfter;
        const char* why;
    };
    const Step steps[] = {
        {ENDED, false, true, true, false, "UDP works: stays"},
        {UDP_SILENT, false, true, false, true, "UDP silent after PLAY: TCP at once"},
        {ENDED, false, true, false, true, "the silent UDP session ending is already counted"},
        {ENDED, true, true, true, true, "TCP carried packets: stays on TCP"},
        {ENDED, true, true, true, true, "and again, no return to UDP"},
        {ENDED, true, false, false, true, "a refused session says nothing about the transport"},
        {ENDED, false, true, true, false, "the client switched to UDP on a refusal and UDP worked"},
        {ENDED, true, true, true, true, "the client switched to TCP on a refusal and TCP worked"},
        {ENDED, true, true, false, true, "one silent TCP play is not enough"},
        {ENDED, true, true, false, false, "two silent TCP plays in a row: UDP again"},
        {ENDED, false, true, false, false, "one silent UDP play"},
        {ENDED, false, true, true, false, "packets in between restart the count"},
        {ENDED, false, true, false, false, "one silent UDP play"},
        {ENDED, false, true, false, true, "two in a row: TCP"},
    };
    CTransportChoice choice;
    EXPECT_FALSE(choice.UseInterleaved());
    for (const Step& s : steps) {
        if (s.event == UDP_SILENT)
            choice.OnUdpSilent();
        else
            choice.OnSessionEnded(s.interleaved, s.played, s.packets);
        EXPECT_EQ(choice.UseInterleaved(), s.interleavedAfter) << s.why;
    }
    choice.Reset();
    EXPECT_FALSE(choice.UseInterleaved());
}
