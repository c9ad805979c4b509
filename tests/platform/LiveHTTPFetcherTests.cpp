#include "platform/live/LiveHTTPFetcher.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveProcessRunner.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

HTTPRequest get(const std::string& url, std::chrono::milliseconds timeout = 5s) {
    HTTPRequest request;
    request.url = url;
    request.timeout = timeout;
    return request;
}

// A socket listening on 127.0.0.1 (a free port) and its port.
std::pair<int, int> listeningSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 1);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return {fd, ntohs(address.sin_port)};
}

// A loopback HTTP server on a free port, serving the routes below while the
// test lives. Handlers that stall wait on `release` so the server can always
// stop; only the client's time-out or cancel ends a request to them.
class LiveHTTPFetcherTest : public ::testing::Test {
protected:
    LiveHTTPFetcherTest() {
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 31 % 251);
        server.Put("/v1/events", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex);
            seen = request;
            response.status = 201;
            response.set_header("X-Reply", "yes");
            response.set_content("{\"ok\":true}", "application/json");
        });
        server.Get("/old", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/new");
            response.set_header("X-From", "old");
        });
        server.Get("/new", [this](const httplib::Request&, httplib::Response& response) {
            ++plainRequests;
            response.set_content("moved", "text/plain");
        });
        server.Get("/stalls-midway", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(payload.size(), "application/octet-stream",
                                          [this](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset > 0) holdSilence();
                                              return sink.write(payload.data(), 1000);
                                          });
        });
        server.Get("/OpenJDK.pkg", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(payload, "application/octet-stream");
        });
        // A byte every 100 ms, each sent only once the client has received the
        // one before, so a slow machine stretches nothing but the pauses.
        server.Get("/drip", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                12, "application/octet-stream", [this](size_t offset, size_t, httplib::DataSink& sink) {
                    {
                        std::unique_lock lock(mutex);
                        received.wait(lock, [&] { return receivedBytes >= offset || release.isCancelled(); });
                    }
                    release.token().sleepFor(100ms);
                    return sink.write(".", 1);
                });
        });
        m_port = server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~LiveHTTPFetcherTest() override {
        release.cancel();
        { std::lock_guard lock(mutex); }  // a handler between its check and its wait sees the cancel
        received.notify_all();
        server.stop();
        m_thread.join();
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    void holdSilence() const { release.token().sleepFor(1h); }
    void noteReceived(std::uint64_t bytes) {
        {
            std::lock_guard lock(mutex);
            receivedBytes = bytes;
        }
        received.notify_all();
    }

    std::string payload = std::string(300 * 1024, '\0');
    std::mutex mutex;
    std::condition_variable received;
    std::uint64_t receivedBytes = 0;  // guarded by mutex
    httplib::Request seen;            // guarded by mutex
    std::atomic<int> plainRequests{0};
    CancelSource release;
    httplib::Server server;
    test::TemporaryDirectory downloads;
    LiveHTTPFetcher fetcher{downloads.path()};

private:
    int m_port = 0;
    std::thread m_thread;
};

TEST_F(LiveHTTPFetcherTest, SendsTheRequestAsGivenAndFollowsRedirectsToTheFinalResponse) {
    HTTPRequest request = get(url("/v1/events"));
    request.method = "PUT";
    request.headers = {{"Content-Type", "application/json"}, {"apikey", "anon"}};
    request.body = "[" + std::string(2 * 1024 * 1024, ' ') + "]";  // large enough for "Expect: 100-continue"
    auto result = fetcher.data(request);

    ASSERT_TRUE(result.ok()) << result.error().description;
    EXPECT_EQ(result->response.statusCode, 201);
    EXPECT_EQ(result->body, "{\"ok\":true}");
    EXPECT_EQ(result->response.header("x-reply"), "yes");
    EXPECT_EQ(fetcher.data(get(url("/nowhere")))->response.statusCode, 404) << "a status is a response";
    auto moved = fetcher.data(get(url("/old")));
    ASSERT_TRUE(moved.ok());
    EXPECT_EQ(moved->body, "moved");
    EXPECT_EQ(moved->response.url, url("/new"));
    EXPECT_FALSE(moved->response.header("X-From")) << "headers are the final response's";
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.method, "PUT");
    EXPECT_EQ(seen.get_header_value("apikey"), "anon");
    EXPECT_FALSE(seen.has_header("Expect")) << "the fetcher adds nothing to requests";
    EXPECT_EQ(seen.body, request.body);
}

TEST_F(LiveHTTPFetcherTest, IdleAndWholeRequestTimeoutsFireOnSilence) {
    const auto start = Clock::now();
    auto result = fetcher.data(get(url("/stalls-midway"), 300ms));
    EXPECT_EQ(result.ok() ? 0 : result.error().code, url_error::kTimedOut);
    EXPECT_GE(Clock::now() - start, 300ms);
    // Data came, the idle limit is far away: the whole-request limit ends it.
    HTTPRequest bounded = get(url("/stalls-midway"), 1h);
    bounded.resourceTimeout = 300ms;
    EXPECT_EQ(fetcher.data(bounded).error().code, url_error::kTimedOut);
}

// Twelve bytes 100 ms apart against a 1 s idle limit: longer in all than the
// limit, but never that long without a byte.
TEST_F(LiveHTTPFetcherTest, SlowSteadyDataIsNotIdle) {
    DownloadOptions options;
    options.timeout = 1s;
    options.progress = [this](std::uint64_t bytes, std::uint64_t) { noteReceived(bytes); };
    const auto start = Clock::now();
    auto drip = fetcher.download(url("/drip"), options);
    ASSERT_TRUE(drip.ok()) << drip.error().description;
    EXPECT_GE(Clock::now() - start, options.timeout);
    EXPECT_EQ(test::readFile(drip->location), std::string(12, '.'));
}

TEST_F(LiveHTTPFetcherTest, TransportFailuresCarryURLErrorCodes) {
    const auto [closed, closedPort] = listeningSocket();
    ::close(closed);
    // A server that answers with something that is not HTTP.
    const auto [listener, garbagePort] = listeningSocket();
    std::thread garbage([listener = listener] {
        const int connection = ::accept(listener, nullptr, nullptr);
        char buffer[4096];
        (void)::read(connection, buffer, sizeof buffer);
        const char reply[] = "SSH-2.0-OpenSSH_9.6\r\nthis is not http at all\r\n\r\n";
        (void)::write(connection, reply, sizeof reply - 1);
        ::close(connection);
    });
    const std::pair<std::string, int> rows[] = {
        {"http://127.0.0.1:" + std::to_string(garbagePort) + "/", url_error::kBadServerResponse},
        {"http://127.0.0.1:" + std::to_string(closedPort) + "/", url_error::kCannotConnectToHost},
        {"", url_error::kBadURL},
        {"http://exa mple.com/", url_error::kBadURL},
        {"file:///etc/passwd", url_error::kUnsupportedURL},
    };
    for (const auto& [target, code] : rows) {
        auto result = fetcher.data(get(target));
        EXPECT_EQ(result.ok() ? 0 : result.error().code, code) << target;
    }
    garbage.join();
    ::close(listener);
}

TEST_F(LiveHTTPFetcherTest, CancellationEndsARequestPromptly) {
    CancelSource cancelled;
    cancelled.cancel();
    EXPECT_EQ(fetcher.data(get(url("/stalls-midway")), cancelled.token()).error().code, url_error::kCancelled);

    CancelSource source;
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        source.cancel();
    });
    const auto start = Clock::now();
    auto result = fetcher.data(get(url("/stalls-midway"), 10s), source.token());
    canceller.join();
    EXPECT_EQ(result.ok() ? 0 : result.error().code, url_error::kCancelled);
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(LiveHTTPFetcherTest, DownloadStreamsToATemporaryFileWithProgressAndItsHash) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    DownloadOptions options;
    options.progress = [&](std::uint64_t bytes, std::uint64_t expected) { progress.emplace_back(bytes, expected); };
    auto result = fetcher.download(url("/OpenJDK.pkg"), options);
    ASSERT_TRUE(result.ok()) << result.error().description;
    EXPECT_EQ(result->response.statusCode, 200);
    EXPECT_EQ(parentDirectory(result->location), downloads.path());
    EXPECT_EQ(test::readFile(result->location), payload);
    SHA256 hash;
    hash.update(payload);
    EXPECT_EQ(result->sha256, hash.hexDigest()) << "hashed as it arrived, piece by piece";
    hash.update("a");
    hash.update("bc");
    EXPECT_EQ(hash.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(std::uint64_t{payload.size()}, std::uint64_t{payload.size()}));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    ASSERT_TRUE(LiveFileSystem().removeItem(result->location).ok());

    // Failures leave nothing behind.
    options = {};
    options.timeout = 300ms;
    EXPECT_EQ(fetcher.download(url("/stalls-midway"), options).error().code, url_error::kTimedOut);
    CancelSource source;
    options.timeout = 10s;
    options.cancel = source.token();
    options.progress = [&](std::uint64_t, std::uint64_t) { source.cancel(); };
    EXPECT_EQ(fetcher.download(url("/stalls-midway"), options).error().code, url_error::kCancelled);
    EXPECT_TRUE(LiveFileSystem().contentsOfDirectory(downloads.path()).valueOr(std::vector<std::string>{"?"}).empty());
    LiveHTTPFetcher nowhere(joinPath(downloads.path(), "missing"));
    EXPECT_EQ(nowhere.download(url("/OpenJDK.pkg")).error().code, url_error::kCannotCreateFile);
}

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// A request that starts on https follows a redirect to https, never to http:
// the plain server is never even asked.
TEST_F(LiveHTTPFetcherTest, HTTPSNeverFollowsARedirectToPlainHTTP) {
    test::TemporaryDirectory keys;
    const std::string certificate = keys.path() + "/certificate.pem";
    const std::string key = keys.path() + "/key.pem";
    auto made = LiveProcessRunner().run(
        "/usr/bin/env",
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", certificate});
    if (!made || made->exitCode != 0) GTEST_SKIP() << "openssl could not make a certificate";

    httplib::SSLServer secure(certificate.c_str(), key.c_str());
    ASSERT_TRUE(secure.is_valid());
    secure.Get("/to-http",
               [&](const httplib::Request&, httplib::Response& response) { response.set_redirect(url("/new")); });
    secure.Get("/to-https",
               [](const httplib::Request&, httplib::Response& response) { response.set_redirect("/new"); });
    secure.Get("/new", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("secure", "text/plain");
    });
    const int port = secure.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { secure.listen_after_bind(); });
    while (!secure.is_running()) std::this_thread::sleep_for(1ms);
    const std::string base = "https://127.0.0.1:" + std::to_string(port);
    LiveHTTPFetcher verifying({}, certificate);

    auto followed = verifying.data(get(base + "/to-https"));
    auto refused = verifying.data(get(base + "/to-http"));
    secure.stop();
    serving.join();

    ASSERT_TRUE(followed.ok()) << followed.error().description;
    EXPECT_EQ(followed->body, "secure");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, url_error::kUnsupportedURL) << refused.error().description;
    EXPECT_EQ(plainRequests.load(), 0);
}
#endif

}  // namespace
}  // namespace lumo
