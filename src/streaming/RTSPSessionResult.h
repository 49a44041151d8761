// What happened to the last RTSP connection attempt, in facts rather than
// words: the channel that owns the client turns it into the one log line an
// integrator reads. Written by the session thread, read once it has ended.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {

struct RTSP_SESSION_RESULT {
    // The connection itself could not be had (Start returned false).
    bool connectFailed = false;
    bool connectRefused = false;  // actively refused rather than unanswered
    // The request that ended the attempt (RtspMethod), 0 when none failed.
    int failedMethod = 0;
    // Its answer; 0 and empty when none came.
    uint32_t statusCode = 0;
    std::string reasonPhrase;
    bool noAnswer = false;
    // 401 after credentials were sent, with the challenge it carried.
    bool credentialsRefused = false;
    int32_t authScheme = 0;
    std::string realm;
    // SETUP refused over both transports.
    bool transportRefused = false;
    // SETUP refused over the first transport and accepted over the other.
    bool transportSwitched = false;
    // The server closed the connection, let the session expire or said BYE.
    bool serverClosed = false;
    bool sessionExpired = false;
    bool byeReceived = false;
    bool played = false;
};

}  // namespace zentavo
