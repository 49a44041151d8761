// The RTSP control connection to one camera stream: a TCP socket and a
// session thread that describes, sets up, plays and keeps the session alive,
// and tears it down when stopped. RTP normally arrives on the UDP ports of
// the settings; in interleaved mode it arrives on this connection and goes
// to the user as parsed packets, and the receiver reports go back on it
// between the requests. A SETUP refused for its transport is
// repeated at once over the other one. The client writes no log lines: what
// went wrong is left in a result record for its owner to put into words.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "runtime/DebugMessage.h"
#include "runtime/BaseThread.h"
#include "runtime/Event.h"
#include "runtime/RecursiveLock.h"
#include "streaming/InterleavedRTCPReporter.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/RTSPAuthentication.h"
#include "streaming/RTSPClientSettings.h"
#include "streaming/RTSPReplyReader.h"
#include "streaming/RTSPRequestBuilder.h"
#include "streaming/RTSPResponseParser.h"
#include "streaming/RTSPSessionResult.h"
#include "streaming/RTSPStreamParser.h"

namespace zentavo {

class CBaseRTSPClient : public CBaseThread, public IRTSPStreamParserUser {
public:
    explicit CBaseRTSPClient(IDebugMessage* driver);
    ~CBaseRTSPClient() override;

    // Connects and starts the session thread; false (and stopped) when the
    // connection or the thread cannot be had.
    bool Start(const RTSP_CLIENT_SETTINGS& settings, IRTSPClientUser* user);
    // Ends the session (TEARDOWN while the thread ends), bounded by twice
    // the larger socket time-out plus a second; the client is reusable.
    void Stop();

    void Run() override;
    virtual std::string BuildRequest(int method);
    virtual bool ReceiveInterleaved();

    // IRTSPStreamParserUser
    void OnRTPPacket(CRTPPacket& packet) override;
    void OnRTCPBye() override;
    void OnRTCPSenderReport(const RTCP_SENDER_REPORT& report) override;
    void OnRTSPReply(const std::string& text) override;

    const RTSP_RESPONSE& Response() const { return m_parser.Response(); }
    const RTSP_CLIENT_SETTINGS& Settings() const { return m_settings; }
    // The server accepted PLAY in the session last started (interleaved:
    // PLAY was sent and the connection carried the stream).
    bool HasPlayed() const { return m_played.load(); }
    // GetTickCount64 when the session last started playing, 0 before.
    uint64_t PlayTick() const { return m_playTick.load(); }
    // The session runs (or ran) with RTP interleaved on this connection.
    bool SessionInterleaved() const { return m_sessionInterleaved.load(); }
    // What happened in the attempt last started; read it only once Stop
    // has returned (or Start has failed).
    const RTSP_SESSION_RESULT& Result() const { return m_result; }
    // The method the next keep-alive uses.
    int KeepAliveMethod() const { return m_keepAliveMethod.load(); }

protected:
    // Sends one request, answering an authentication challenge as needed;
    // true when the final reply was 2xx.
    bool SendRequest(int method);

    uintptr_t m_socket;  // 0 when none
    CRTSPResponseParser m_parser;
    uint64_t m_keepAliveTime;  // file time of the last keep-alive, 0 = none
    IRTSPClientUser* m_user;
    RTSP_CLIENT_SETTINGS m_settings;
    int m_transportMode;
    CEvent m_pauseEvent;
    CEvent m_playEvent;
    bool m_paused;
    bool m_multicast;

private:
    enum WaitResult { WAIT_READY, WAIT_TIMED_OUT, WAIT_STOPPED, WAIT_ERROR };
    enum ReadEnd { READ_COMPLETE, READ_TIMED_OUT, READ_CLOSED, READ_STOPPED };

    bool Connect();
    void CloseSocket();
    bool Exchange(int method);
    bool SendAll(const std::string& text);
    bool SendAll(const char* data, size_t length);
    void SendDueReport();
    std::string LocalCname();
    bool ReadReply(bool honourStop, std::string& text);
    WaitResult WaitReadable(bool honourStop);
    std::string BaseUrl() const;
    std::string AuthorizationLine(int method);
    std::string NewCnonce();
    void KeepAliveCheck();
    bool KeepAliveDue() const;
    void SendKeepAlive();
    void KeepAliveFailed(uint32_t status);
    void NotePublic(const std::string& reply);
    bool Request(int method);
    bool Describe();
    bool Setup();
    bool SetupOnce();
    bool PlayInterleaved();
    void Teardown();
    void DiscardStaleInput();
    bool CallOnDescribe();
    void CallOnSessionEnded();
    void ResetSession();

    bool m_winsockStarted;
    std::atomic<bool> m_played{false};
    std::atomic<uint64_t> m_playTick{0};
    std::atomic<bool> m_sessionInterleaved{false};
    RTSP_SESSION_RESULT m_result;
    // The raw text and status of the last answer read (0: none came), and
    // how the last read ended.
    std::string m_lastReply;
    uint32_t m_lastStatus = 0;
    ReadEnd m_readEnd = READ_COMPLETE;
    // Keep-alive: the method in use, whether the server named its methods
    // and listed GET_PARAMETER among them; in interleaved mode the request
    // whose answer is still awaited in the stream (0 none).
    std::atomic<int> m_keepAliveMethod{RTSP_OPTIONS};
    bool m_publicKnown = false;
    bool m_getParameterListed = false;
    int m_awaitedMethod = 0;
    uint8_t m_rtpChannel = 0;
    uint8_t m_rtcpChannel = 1;
    // Interleaved, receiver reports share the connection with the
    // requests: whole writes only, one at a time.
    CRecursiveLock m_sendLock;
    CInterleavedRTCPReporter m_rtcpReporter;
    // Read by the session thread, lowered by Stop so that the TEARDOWN
    // reply is waited for only briefly.
    std::atomic<int32_t> m_readTimeoutMs;
    int32_t m_authScheme;
    // Digest state: the challenge last received, the nonce of the last
    // answer sent and the count of requests made with it.
    DIGEST_CHALLENGE m_challenge;
    bool m_haveChallenge;
    std::string m_sentNonce;  // empty when the last request carried no Digest answer
    std::string m_countedNonce;
    uint32_t m_nonceCount;
    std::string m_cnonce;
    uint32_t m_cnonceSerial;
    // The last request carried credentials; credentials were accepted once
    // in this session (a later refusal is then an expired nonce, not a
    // wrong password).
    bool m_sentCredentials = false;
    bool m_credentialsAccepted = false;
};

}  // namespace zentavo
