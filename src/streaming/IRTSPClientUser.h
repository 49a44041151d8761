// The owner of an RTSP session: receives the session description before
// SETUP, interleaved RTP packets, and the end of the session. Every call
// comes from the RTSP client's thread.
#pragma once

#include "streaming/IRTCPHandlerUser.h"
#include "streaming/RTSPResponseParser.h"
#include "streaming/SDPResponseParser.h"

namespace zentavo {

class CRTPPacket;

class IRTSPClientUser : public IRTCPHandlerUser {
public:
    // False ends the session before SETUP.
    virtual bool OnDescribe(const SESSION_DESCRIPTION& description) = 0;
    // The packet lives only for the call.
    virtual void OnRTPPacket(CRTPPacket& packet) = 0;
    virtual void OnSessionEnded() = 0;
    // After a SETUP the server accepted: its answer as parsed.
    virtual void OnSetupDone(const RTSP_RESPONSE& answer) {}
};

}  // namespace zentavo
