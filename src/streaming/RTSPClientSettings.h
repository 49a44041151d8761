// How one RTSP session is to be run: where the camera is, which stream path
// and media, the local ports RTP and RTCP are to arrive on, credentials and
// socket time-outs. Filled in by the channel before the client starts.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {

struct RTSP_CLIENT_SETTINGS {
    uint16_t port = 554;
    uint16_t clientRtpPort = 0;
    uint16_t clientRtcpPort = 0;
    std::string host;
    std::string userName;
    std::string password;
    int32_t connectTimeoutMs = 5000;
    int32_t receiveTimeoutMs = 5000;
    int32_t receiveBufferSize = 65536;
    int32_t sendTimeoutMs = 1000;
    // Seconds; used when the server announces no session time-out.
    int32_t keepAliveIntervalS = 60;
    // RtspAuthScheme of the first request: 0 none, 1 Basic, 2 Digest.
    int32_t authScheme = 0;
    std::string path;
    // Which media of the session description to set up: 1 video, 2 audio,
    // 3 metadata.
    int32_t mediaIndex = 1;
    // Range value of PLAY and PAUSE; empty gives "npt=0.000-".
    std::string range;
    // RTP and RTCP interleaved on the RTSP connection (channels 0 and 1)
    // instead of the UDP client ports.
    bool interleaved = false;
};

}  // namespace zentavo
