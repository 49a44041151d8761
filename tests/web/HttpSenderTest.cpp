#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "support/ScriptedHttpServer.h"
#include "web/HttpSender.h"

using namespace halvencap_test;
using namespace std::chrono;
using Web::ByteArray;
using Web::CHttpSender;
using Web::HTTP_REQUEST;

namespace {

const auto kWait = seconds(20);

zentavo::DEVICE_INFO Device(uint16_t port, const std::string& user = "",
                            const std::string& password = "", uint32_t timeoutMs = 5000) {
    zentavo::DEVICE_INFO device("127.0.0.1", port, user, password);
    device.requestTimeoutMs = timeoutMs;
    return device;
}

std::string Text(const ByteArray& bytes) { return std::string(bytes.begin(), bytes.end()); }

ScriptedAnswer Challenge(const std::vector<std::string>& schemes) {
    ScriptedAnswer answer = ScriptedAnswer::Status(401, "Unauthorized");
    for (const std::string& scheme : schemes)
        answer.headers.push_back("WWW-Authenticate: " + scheme);
    answer.body = "denied";
    return answer;
}

const char* const kDigest = "Digest realm=\"cam\", nonce=\"0123456789abcdef\", qop=\"auth\"";
const char* const kBasic = "Basic realm=\"cam\"";

class HttpSenderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.IsListening()); }
    ScriptedHttpServer server;
};

// A streamed answer: no length, so it lasts until the connection ends, or
// (stalled) until the server is told to let go.
ScriptedAnswer StreamAnswer(const std::string& body, bool stalled) {
    ScriptedAnswer answer = ScriptedAnswer::Ok(body);
    answer.announceLength = false;
    answer.stallAfterBody = stalled;
    return answer;
}

std::string Letters(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

TEST_F(HttpSenderTest, GetCarriesUserAgentBasicCredentialsAndUnescapedQuery) {
    server.Push(ScriptedAnswer::Ok("Return_0=1\r\n"));
    CHttpSender sender(Device(server.Port(), "user", "pass"));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/cgi-bin/param_if.cgi?NumActions=1&Action_0=A.GetValue")));
    EXPECT_EQ(200u, sender.m_statusCode);
    EXPECT_EQ(12u, sender.m_contentLength);
    ByteArray body;
    EXPECT_EQ(12u, sender.ReadBody(body));
    EXPECT_EQ("Return_0=1\r\n", Text(body));

    ASSERT_EQ(1u, server.RequestCount());
    const std::string raw = server.Requests()[0];
    EXPECT_EQ("GET /cgi-bin/param_if.cgi?NumActions=1&Action_0=A.GetValue HTTP/1.1",
              ScriptedHttpServer::RequestLine(raw));
    EXPECT_EQ("Zentavo::HttpSender", ScriptedHttpServer::HeaderValue(raw, "User-Agent"));
    EXPECT_EQ("Basic dXNlcjpwYXNz", ScriptedHttpServer::HeaderValue(raw, "Authorization"));
}

TEST_F(HttpSenderTest, NoCredentialsWithoutUserNameOrWithHintFive) {
    CHttpSender anonymous(Device(server.Port()));
    ASSERT_TRUE(anonymous.SendRequest(HTTP_REQUEST("GET", "/a")));
    HTTP_REQUEST hinted("GET", "/b");
    hinted.authHint = Web::AUTH_HINT_NO_CREDENTIALS;
    CHttpSender withUser(Device(server.Port(), "user", "pass"));
    ASSERT_TRUE(withUser.SendRequest(hinted));

    ASSERT_EQ(2u, server.RequestCount());
    for (const std::string& raw : server.Requests())
        EXPECT_FALSE(ScriptedHttpServer::HasHeader(raw, "Authorization")) << raw;
}

TEST_F(HttpSenderTest, DigestNamedFirstIsLearnedRetriedOnceAndUsedAtOnceLater) {
    server.Push(Challenge({kDigest, kBasic}));
    CHttpSender sender(Device(server.Port(), "user", "pass"));
    EXPECT_EQ(0u, sender.LearnedAuthScheme());

    sender.SendRequest(HTTP_REQUEST("GET", "/first"));
    EXPECT_EQ(static_cast<uint32_t>(WINHTTP_AUTH_SCHEME_DIGEST), sender.LearnedAuthScheme());
    ASSERT_EQ(2u, server.RequestCount());
    std::vector<std::string> requests = server.Requests();
    EXPECT_EQ("Basic dXNlcjpwYXNz", ScriptedHttpServer::HeaderValue(requests[0], "Authorization"));
    EXPECT_EQ("GET /first HTTP/1.1", ScriptedHttpServer::RequestLine(requests[1]));
    EXPECT_NE("Basic dXNlcjpwYXNz", ScriptedHttpServer::HeaderValue(requests[1], "Authorization"));

    // Later requests go out with the learned scheme, without another probe.
    server.Push(ScriptedAnswer::Ok("fine"));
    EXPECT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/second")));
    EXPECT_EQ(3u, server.RequestCount());
    EXPECT_EQ(static_cast<uint32_t>(WINHTTP_AUTH_SCHEME_DIGEST), sender.LearnedAuthScheme());
    EXPECT_NE("Basic dXNlcjpwYXNz",
              ScriptedHttpServer::HeaderValue(server.Requests()[2], "Authorization"));
}

TEST_F(HttpSenderTest, SchemeAlreadyUsedIsNotRetriedAndLaterDenialIsReported) {
    server.SetDefault(Challenge({kBasic}));
    CHttpSender sender(Device(server.Port(), "user", "wrong"));
    EXPECT_FALSE(sender.SendRequest(HTTP_REQUEST("GET", "/x")));
    EXPECT_EQ(static_cast<uint32_t>(WINHTTP_AUTH_SCHEME_BASIC), sender.LearnedAuthScheme());
    const size_t afterFirst = server.RequestCount();
    EXPECT_GE(afterFirst, 1u);

    EXPECT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/y")));
    EXPECT_EQ(401u, sender.m_statusCode);
}

TEST_F(HttpSenderTest, AnonymousDenialProbesOnceWithoutRetryForBasic) {
    server.Push(Challenge({kBasic}));
    CHttpSender sender(Device(server.Port()));
    EXPECT_FALSE(sender.SendRequest(HTTP_REQUEST("GET", "/x")));
    EXPECT_EQ(1u, server.RequestCount());
    EXPECT_EQ(static_cast<uint32_t>(WINHTTP_AUTH_SCHEME_BASIC), sender.LearnedAuthScheme());
}

TEST_F(HttpSenderTest, ReadBodyStopsAtContentLength) {
    ScriptedAnswer answer = ScriptedAnswer::Ok("0123456789ABCDEFGHIJ");
    answer.announcedLength = 10;
    server.Push(answer);
    CHttpSender sender(Device(server.Port()));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/blob")));
    EXPECT_EQ(10u, sender.m_contentLength);
    ByteArray body;
    EXPECT_EQ(10u, sender.ReadBody(body));
    EXPECT_EQ("0123456789", Text(body));
}

TEST_F(HttpSenderTest, ReadBodyWithoutLengthStopsAtOneMebibyte) {
    ScriptedAnswer answer = ScriptedAnswer::Ok(std::string(1536 * 1024, 'x'));
    answer.announceLength = false;
    server.Push(answer);
    CHttpSender sender(Device(server.Port()));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/big")));
    EXPECT_EQ(0u, sender.m_contentLength);
    ByteArray body;
    EXPECT_EQ(1048576u, sender.ReadBody(body));
    EXPECT_EQ(1048576u, body.size());
}

TEST_F(HttpSenderTest, ReadBodyWithoutLengthEndsWithTheConnection) {
    ScriptedAnswer answer = ScriptedAnswer::Ok(std::string(20000, 'y'));
    answer.announceLength = false;
    server.Push(answer);
    CHttpSender sender(Device(server.Port()));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/small")));
    ByteArray body;
    EXPECT_EQ(20000u, sender.ReadBody(body));
}

TEST_F(HttpSenderTest, ReadBodyTimeOutKeepsWhatArrivedAndAddsNothing) {
    ScriptedAnswer answer = ScriptedAnswer::Ok("partial");
    answer.announcedLength = 100;
    answer.stallAfterBody = true;
    server.Push(answer);
    CHttpSender sender(Device(server.Port(), "", "", 1000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/stall")));
    ByteArray body;
    EXPECT_EQ(7u, sender.ReadBody(body));
    EXPECT_EQ("partial", Text(body));
    server.ReleaseHangs();
}

TEST_F(HttpSenderTest, ReadSomeAppendsOrClears) {
    server.Push(ScriptedAnswer::Ok("abcdef"));
    CHttpSender sender(Device(server.Port()));
    ByteArray out = {'z'};
    EXPECT_EQ(0u, sender.ReadSome(out, 4, false));  // no request yet
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/s")));
    EXPECT_EQ(0u, sender.ReadSome(out, 0, false));
    EXPECT_EQ(4u, sender.ReadSome(out, 4, false));
    EXPECT_EQ("zabcd", Text(out));
    EXPECT_EQ(2u, sender.ReadSome(out, 4, true));
    EXPECT_EQ("ef", Text(out));
    EXPECT_EQ(0u, sender.ReadSome(out, 4, false));
    EXPECT_EQ(0u, sender.GetAvailableBytes());
}

TEST_F(HttpSenderTest, CloseRequestFromAnotherThreadEndsABlockedRead) {
    server.Push(StreamAnswer("abc", true));
    // A long time-out, so that only the close can end the read in time.
    CHttpSender sender(Device(server.Port(), "", "", 60000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/mjpeg")));
    ByteArray out;
    ASSERT_EQ(3u, sender.ReadSome(out, 100, true));

    std::atomic<bool> entered{false};
    auto reader = std::async(std::launch::async, [&] {
        entered = true;
        ByteArray more;
        return sender.ReadSome(more, 100, true);
    });
    while (!entered)
        std::this_thread::sleep_for(milliseconds(10));
    std::this_thread::sleep_for(milliseconds(300));
    const auto closedAt = steady_clock::now();
    sender.CloseRequest();
    ASSERT_EQ(std::future_status::ready, reader.wait_for(kWait));
    EXPECT_EQ(0u, reader.get());
    EXPECT_LT(steady_clock::now() - closedAt, seconds(10));
    ByteArray after;
    EXPECT_EQ(0u, sender.ReadBody(after));
    server.ReleaseHangs();
}

TEST_F(HttpSenderTest, CloseRequestFromAnotherThreadEndsABlockedReadBody) {
    ScriptedAnswer answer = ScriptedAnswer::Ok("head");
    answer.announcedLength = 1000;
    answer.stallAfterBody = true;
    server.Push(answer);
    CHttpSender sender(Device(server.Port(), "", "", 60000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/slow")));
    EXPECT_EQ(4u, sender.GetAvailableBytes());
    auto reader = std::async(std::launch::async, [&] {
        ByteArray body;
        sender.ReadBody(body);
        return Text(body);
    });
    std::this_thread::sleep_for(milliseconds(300));
    sender.CloseRequest();
    ASSERT_EQ(std::future_status::ready, reader.wait_for(kWait));
    EXPECT_EQ("head", reader.get());
    server.ReleaseHangs();
}

std::string DrainStream(CHttpSender& sender) {
    std::string all;
    ByteArray piece = {'z'};
    while (sender.ReadStream(piece) > 0) {
        EXPECT_FALSE(piece.empty());
        all += Text(piece);
    }
    EXPECT_TRUE(piece.empty());
    return all;
}

TEST_F(HttpSenderTest, ReadStreamDeliversTheWholeBodyInArrivalPiecesThenZero) {
    const std::string body = Letters(20000);
    server.Push(StreamAnswer(body, false));
    CHttpSender sender(Device(server.Port()));
    ByteArray none;
    EXPECT_EQ(0u, sender.ReadStream(none));  // no request yet
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/mjpeg")));
    EXPECT_EQ(body, DrainStream(sender));
    EXPECT_EQ(0u, sender.ReadStream(none));
}

TEST_F(HttpSenderTest, ReadStreamEndsWithTheReceiveTimeOut) {
    server.Push(StreamAnswer("abc", true));
    CHttpSender sender(Device(server.Port(), "", "", 1000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/mjpeg")));
    auto reader = std::async(std::launch::async, [&] { return DrainStream(sender); });
    ASSERT_EQ(std::future_status::ready, reader.wait_for(kWait));
    EXPECT_EQ("abc", reader.get());
    server.ReleaseHangs();
}

TEST_F(HttpSenderTest, CloseRequestFromAnotherThreadEndsABlockedReadStream) {
    server.Push(StreamAnswer("abc", true));
    // A long time-out, so that only the close can end the wait in time.
    CHttpSender sender(Device(server.Port(), "", "", 60000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/mjpeg")));
    std::string first;
    ByteArray piece;
    while (first.size() < 3 && sender.ReadStream(piece) > 0)
        first += Text(piece);
    ASSERT_EQ("abc", first);

    std::atomic<bool> entered{false};
    auto reader = std::async(std::launch::async, [&] {
        entered = true;
        ByteArray more;
        return sender.ReadStream(more);
    });
    while (!entered)
        std::this_thread::sleep_for(milliseconds(10));
    std::this_thread::sleep_for(milliseconds(300));
    const auto closedAt = steady_clock::now();
    sender.CloseRequest();
    ASSERT_EQ(std::future_status::ready, reader.wait_for(kWait));
    EXPECT_EQ(0u, reader.get());
    EXPECT_LT(steady_clock::now() - closedAt, seconds(2));
    EXPECT_EQ(0u, sender.ReadStream(piece));
    server.ReleaseHangs();
}

TEST_F(HttpSenderTest, AStreamAfterAnAbandonedOneIsReadInFull) {
    server.Push(StreamAnswer("first", true));
    server.Push(StreamAnswer("second stream", false));
    CHttpSender sender(Device(server.Port(), "", "", 60000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/one")));
    ByteArray piece;
    ASSERT_GT(sender.ReadStream(piece), 0u);
    // Leaves the reading side waiting on the stalled response.
    std::this_thread::sleep_for(milliseconds(200));
    sender.CloseRequest();

    auto later = std::async(std::launch::async, [&] {
        if (!sender.SendRequest(HTTP_REQUEST("GET", "/two"))) return std::string("send failed");
        return DrainStream(sender);
    });
    // The first response's connection ends only now; the second stream
    // must not be lost to the read that was still waiting on it.
    std::this_thread::sleep_for(milliseconds(300));
    server.ReleaseHangs();
    ASSERT_EQ(std::future_status::ready, later.wait_for(kWait));
    EXPECT_EQ("second stream", later.get());
}

class RecordingSink : public Web::IStreamSink {
public:
    explicit RecordingSink(size_t stopAfter = 0) : m_stopAfter(stopAfter) {}
    bool OnStreamData(const uint8_t* data, size_t size) override {
        EXPECT_GT(size, 0u);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text.append(reinterpret_cast<const char*>(data), size);
        m_threads.insert(std::this_thread::get_id());
        return m_stopAfter == 0 || m_text.size() < m_stopAfter;
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }
    bool CalledOn(std::thread::id id) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads.count(id) != 0;
    }

private:
    std::mutex m_mutex;
    std::string m_text;
    std::set<std::thread::id> m_threads;
    size_t m_stopAfter;
};

TEST_F(HttpSenderTest, ReadStreamIntoHandsTheWholeBodyToTheSinkOnTheReadingThread) {
    const std::string body = Letters(50000);
    server.Push(StreamAnswer(body, false));
    CHttpSender sender(Device(server.Port()));
    RecordingSink sink;
    EXPECT_FALSE(sender.ReadStreamInto(sink));  // no request yet
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/mjpeg")));
    EXPECT_TRUE(sender.ReadStreamInto(sink));
    EXPECT_EQ(body, sink.Text());
    EXPECT_FALSE(sink.CalledOn(std::this_thread::get_id()));
}

TEST_F(HttpSenderTest, ASinkThatRefusesEndsTheReading) {
    server.Push(StreamAnswer("abc", true));
    CHttpSender sender(Device(server.Port(), "", "", 60000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/mjpeg")));
    RecordingSink sink(1);
    auto reader = std::async(std::launch::async, [&] { return sender.ReadStreamInto(sink); });
    ASSERT_EQ(std::future_status::ready, reader.wait_for(kWait));
    EXPECT_TRUE(reader.get());
    EXPECT_EQ("abc", sink.Text());
    server.ReleaseHangs();
}

TEST_F(HttpSenderTest, CloseRequestFromAnotherThreadEndsReadStreamInto) {
    server.Push(StreamAnswer("abc", true));
    CHttpSender sender(Device(server.Port(), "", "", 60000));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/mjpeg")));
    RecordingSink sink;
    auto reader = std::async(std::launch::async, [&] { return sender.ReadStreamInto(sink); });
    const auto deadline = steady_clock::now() + kWait;
    while (sink.Text().size() < 3 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_EQ("abc", sink.Text());
    std::this_thread::sleep_for(milliseconds(300));
    const auto closedAt = steady_clock::now();
    sender.CloseRequest();
    ASSERT_EQ(std::future_status::ready, reader.wait_for(kWait));
    EXPECT_TRUE(reader.get());
    EXPECT_LT(steady_clock::now() - closedAt, seconds(2));
    server.ReleaseHangs();
}

TEST_F(HttpSenderTest, ConnectionIsReusedAcrossRequests) {
    server.Push(ScriptedAnswer::Ok("one"));
    server.Push(ScriptedAnswer::Ok("two"));
    CHttpSender sender(Device(server.Port()));
    ByteArray body;
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/1")));
    EXPECT_EQ(3u, sender.ReadBody(body));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/2")));
    sender.ReadBody(body);
    EXPECT_EQ("two", Text(body));
}

TEST_F(HttpSenderTest, BodyAndHeaderLinesAreSent) {
    HTTP_REQUEST post("POST", "/upload");
    post.body = {'h', 'e', 'l', 'l', 'o'};
    post.headers.push_back("X-Test: 42");
    post.headers.push_back("Content-Type: text/plain");
    CHttpSender sender(Device(server.Port()));
    ASSERT_TRUE(sender.SendRequest(post));
    ASSERT_EQ(1u, server.RequestCount());
    const std::string raw = server.Requests()[0];
    EXPECT_EQ("POST /upload HTTP/1.1", ScriptedHttpServer::RequestLine(raw));
    EXPECT_EQ("42", ScriptedHttpServer::HeaderValue(raw, "X-Test"));
    EXPECT_EQ("5", ScriptedHttpServer::HeaderValue(raw, "Content-Length"));
    EXPECT_EQ("hello", raw.substr(raw.size() - 5));
}

TEST_F(HttpSenderTest, AnnouncedLongerBodyLeavesTheRequestOpenWithoutResponse) {
    HTTP_REQUEST post("POST", "/stream");
    post.body = {'a'};
    post.totalLength = 1000;
    CHttpSender sender(Device(server.Port()));
    EXPECT_TRUE(sender.SendRequest(post));
    EXPECT_EQ(0u, sender.m_statusCode);
}

TEST_F(HttpSenderTest, FailuresAreFalse) {
    CHttpSender closed(Device(ScriptedHttpServer::ClosedPort(), "", "", 2000));
    EXPECT_FALSE(closed.SendRequest(HTTP_REQUEST("GET", "/")));
    ByteArray body;
    EXPECT_EQ(0u, closed.ReadBody(body));

    server.Push(ScriptedAnswer::Close());
    server.Push(ScriptedAnswer::Raw(std::string("\x00\xff\x12garbage\r\n\r\n", 14)));
    server.Push(ScriptedAnswer::Hang());
    CHttpSender sender(Device(server.Port(), "", "", 1000));
    EXPECT_FALSE(sender.SendRequest(HTTP_REQUEST("GET", "/closed")));
    EXPECT_FALSE(sender.SendRequest(HTTP_REQUEST("GET", "/garbage")));
    const auto start = steady_clock::now();
    EXPECT_FALSE(sender.SendRequest(HTTP_REQUEST("GET", "/hang")));
    EXPECT_LT(steady_clock::now() - start, kWait);
    server.ReleaseHangs();
}

}  // namespace
