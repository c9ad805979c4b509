// The receiver: its judgement of a request (pure), its HTTP head parser, and
// the live server against hostile clients over loopback. Every attack is
// followed by an ordinary event that must still be stored.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "EventRequest.h"
#include "HTTPServer.h"
#include "TelemetryReceiver.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;

constexpr const char* kKey = "k";
constexpr const char* kPath = "/api/database/records/usage_events";

nlohmann::json record(const std::string& name = "consent_given") {
    return {{"session_id", "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"},
            {"client_timestamp", "2026-01-05T09:30:00.125Z"},
            {"app_version", "1.0 (1)"},
            {"app_id", "example.lumo.java"},
            {"event_name", name},
            {"event_data", nlohmann::json::object()}};
}

std::string body(const nlohmann::json& records) { return records.dump(); }

// event_data nested so that the whole body is `depth` deep.
std::string nestedBody(std::size_t depth) {
    const std::size_t inner = depth - 3;  // the array, the record, event_data
    std::string data = "{\"a\":" + std::string(inner, '[') + std::string(inner, ']') + "}";
    std::string text = body(nlohmann::json::array({record()}));
    text.replace(text.find("\"event_data\":{}"), 15, "\"event_data\":" + data);
    return text;
}

TEST(EventRequestTest, EachRequestGetsItsAnswer) {
    auto withField = [](const char* key, nlohmann::json value) {
        auto r = record();
        r[key] = std::move(value);
        return body(nlohmann::json::array({r}));
    };
    nlohmann::json many = nlohmann::json::array();
    for (int i = 0; i < 101; ++i) many.push_back(record());
    const std::string ok = body(nlohmann::json::array({record(), record("nps_shown")}));
    const struct {
        const char* what;
        std::string body;
        int status;
        std::string contentType = "application/json";
        std::string authorization = "Bearer k";
    } rows[] = {
        {"quoted charset, any case", ok, 201, "Application/JSON ;Charset=\"UTF-8\""},
        {"another charset", ok, 415, "application/json; charset=latin1"},
        {"wrong key", ok, 401, "application/json", "Bearer x"},
        {"too large", std::string(kMaximumBodyBytes + 1, ' '), 413},
        {"32 deep", nestedBody(32), 201},
        {"33 deep", nestedBody(33), 422},
        {"not JSON", "[{", 400},
        {"101 records", body(many), 422},
        {"64-character name", withField("event_name", std::string(64, 'a')), 201},
        {"65-character name", withField("event_name", std::string(65, 'a')), 422},
        {"digit first", withField("event_name", "1st"), 422},
        {"a dash", withField("event_name", "consent-given"), 422},
        {"upper-case UUID", withField("session_id", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), 422},
        {"no milliseconds", withField("client_timestamp", "2026-01-05T09:30:00Z"), 422},
        {"long app_id", withField("app_id", std::string(257, 'x')), 422},
        {"data not an object", withField("event_data", nlohmann::json::array()), 422},
        {"unknown column", withField("user", "ada"), 422},
    };
    for (const auto& row : rows) {
        const auto decision = decodeEventRequest(row.authorization, row.contentType, row.body, kKey);
        EXPECT_EQ(decision.status, row.status) << row.what << ": " << decision.message;
    }
}

TEST(HTTPHeadTest, HeadsAreParsedWithinTheirBounds) {
    const auto parse = [](const std::string& text) { return parseRequestHead(text, 1024); };
    const std::string text =
        "\r\nPOST /x?count=2&status=5%303&flag HTTP/1.1\r\nHost: a\r\nContent-Length: 12\r\n"
        "Connection: close\r\nExpect: 100-continue\r\n\r\nbody";
    const auto head = parse(text);
    ASSERT_EQ(head.state, HeadParse::State::complete) << head.reason;
    EXPECT_EQ(head.head.queryValue("status"), "503");
    EXPECT_FALSE(head.head.keepAlive);
    EXPECT_TRUE(head.head.expectContinue);
    EXPECT_EQ(head.consumed, text.find("body"));

    EXPECT_EQ(parse("GET / HTTP/1.1\r\nHost: a\r\n").state, HeadParse::State::incomplete);
    const std::pair<std::string, int> invalid[] = {
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", 400},
        {"POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", 400},
        {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 400},
        {"GET / HTTP/2.0\r\n\r\n", 505},
        {"GET /  HTTP/1.1\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nA: b\x01\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nExpect: magic\r\n\r\n", 417},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
    };
    for (const auto& [request, status] : invalid) {
        const auto result = parse(request);
        EXPECT_EQ(result.state, HeadParse::State::invalid) << request.substr(0, 60);
        EXPECT_EQ(result.status, status) << request.substr(0, 60);
    }
}

// A client that speaks raw bytes.
class RawClient {
public:
    explicit RawClient(int port) : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd); }

    bool send(std::string_view bytes) {
        while (connected && !bytes.empty()) {
            const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return connected;
    }
    bool readable(int milliseconds) {
        pollfd polled{fd, POLLIN, 0};
        return ::poll(&polled, 1, milliseconds) > 0;
    }
    // The status of the answer, 0 when the connection ends without one.
    int status() {
        std::string text;
        char chunk[4096];
        ssize_t count = 0;
        while (text.find("\r\n") == std::string::npos && readable(30'000) &&
               (count = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
            text.append(chunk, static_cast<std::size_t>(count));
        }
        return text.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(text.c_str() + 9) : 0;
    }

    const int fd;
    bool connected = false;
};

std::string eventHead(std::uint64_t length) {
    return std::string("POST ") + kPath + " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer k\r\n" +
           "Content-Type: application/json\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}
std::string eventRequest(const std::string& payload) { return eventHead(payload.size()) + payload; }

class ReceiverTest : public ::testing::Test {
protected:
    void start(TelemetryReceiver::Options options = {}) {
        options.anonKey = kKey;
        m_receiver = std::make_unique<TelemetryReceiver>(options);
        ASSERT_TRUE(m_receiver->start().ok());
    }
    int post(const std::string& request) {
        RawClient client(m_receiver->port());
        EXPECT_TRUE(client.send(request));
        return client.status();
    }
    int postEvent() { return post(eventRequest(body(nlohmann::json::array({record()})))); }

    std::unique_ptr<TelemetryReceiver> m_receiver;
};

TEST_F(ReceiverTest, HostileRequestsAreRefusedAndTheReceiverStaysUp) {
    start();
    const std::tuple<const char*, std::string, int> attacks[] = {
        {"20000 levels of event_data", eventRequest(nestedBody(20'000)), 422},
        {"a request line that never ends", std::string(1 << 20, 'a'), 431},
    };
    for (const auto& [what, request, status] : attacks) {
        EXPECT_EQ(post(request), status) << what;
        EXPECT_EQ(postEvent(), 201) << "after " << what;
    }
    EXPECT_EQ(m_receiver->rowCount(), std::size(attacks));
}

TEST_F(ReceiverTest, AHundredMegabyteBodyIsRefusedWithoutBeingRead) {
    start();
    constexpr std::uint64_t kLength = 100ull * 1024 * 1024;
    RawClient client(m_receiver->port());
    ASSERT_TRUE(client.send(eventHead(kLength)));
    // Stream the body (one buffer, sent again and again) until an answer comes.
    const std::string chunk(64 * 1024, ' ');
    std::uint64_t sent = 0;
    while (sent < kLength && !client.readable(0)) {
        pollfd fd{client.fd, POLLOUT, 0};
        if (::poll(&fd, 1, 30'000) <= 0) break;
        const ssize_t count = ::send(client.fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<std::uint64_t>(count);
    }
    EXPECT_EQ(client.status(), 413);
    EXPECT_LT(sent, kLength / 4);
    EXPECT_EQ(postEvent(), 201);
}

TEST_F(ReceiverTest, SlowClientsNeitherBlockOthersNorHoldOnForEver) {
    // Eight clients that send half a head and then nothing, to a receiver
    // that waits for heads far longer than the test takes.
    TelemetryReceiver::Options patient;
    patient.limits.readTimeout = 600s;
    start(patient);
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 8; ++i) {
        slow.push_back(std::make_unique<RawClient>(m_receiver->port()));
        ASSERT_TRUE(slow.back()->send(std::string("POST ") + kPath + " HTTP/1.1\r\nHost: x\r\n"));
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(postEvent(), 201);
    EXPECT_FALSE(slow.front()->readable(0));  // still waited for

    // A receiver that gives a head 100 ms: the slow client is answered and
    // let go, however long the test takes to look.
    TelemetryReceiver::Options options;
    options.limits.readTimeout = 100ms;
    start(options);
    RawClient late(m_receiver->port());
    ASSERT_TRUE(late.send(std::string("POST ") + kPath + " HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_EQ(late.status(), 408);
    EXPECT_EQ(postEvent(), 201);
}

// The receiver is a development backend: its controls stay off unless asked
// for, and then answer loopback clients only.
TEST_F(ReceiverTest, TestControlsAreOffByDefaultAndRefusedOffLoopback) {
    ServerRequest request;
    request.head = parseRequestHead("GET /__control/stats HTTP/1.1\r\n\r\n", 1024).head;
    request.remoteAddress = "127.0.0.1";
    start();
    EXPECT_EQ(m_receiver->handle(request).status, 404) << "off by default";
    TelemetryReceiver::Options options;
    options.enableTestControls = true;
    start(options);
    EXPECT_EQ(m_receiver->handle(request).status, 200);
    request.remoteAddress = "192.0.2.7";
    EXPECT_EQ(m_receiver->handle(request).status, 404) << "refused off loopback";
}

}  // namespace
}  // namespace lumo
