#include "platform/live/LiveHTTPFetcher.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveProcessRunner.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A loopback HTTP server on a free port, serving while the object lives.
// Handlers that stall wait on `release` so the server can always stop.
class LoopbackServer {
public:
    LoopbackServer() {
        m_port = server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~LoopbackServer() {
        release.cancel();
        server.stop();
        m_thread.join();
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

    httplib::Server server;
    CancelSource release;

private:
    int m_port = 0;
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

HTTPRequest get(const std::string& url, std::chrono::milliseconds timeout = 5s) {
    HTTPRequest request;
    request.url = url;
    request.timeout = timeout;
    return request;
}

TEST(LiveHTTPFetcherTest, SendsMethodHeadersAndBodyAndReturnsTheResponse) {
    std::mutex mutex;
    httplib::Request seen;
    LoopbackServer loopback;  // after what its handlers use: it stops first
    loopback.server.Put("/v1/events", [&](const httplib::Request& request, httplib::Response& response) {
        {
            std::lock_guard lock(mutex);
            seen = request;
        }
        response.status = 201;
        response.set_header("X-Reply", "yes");
        response.set_content("{\"ok\":true}", "application/json");
    });

    HTTPRequest request = get(loopback.url("/v1/events"));
    request.method = "PUT";
    request.headers = {{"Content-Type", "application/json"}, {"apikey", "anon"}};
    request.body = "[" + std::string(2 * 1024 * 1024, ' ') + "]";  // large enough for "Expect: 100-continue"
    auto result = LiveHTTPFetcher().data(request);

    ASSERT_TRUE(result.ok()) << result.error().description;
    EXPECT_EQ(result->response.statusCode, 201);
    EXPECT_EQ(result->body, "{\"ok\":true}");
    EXPECT_EQ(result->response.header("x-reply"), "yes");
    EXPECT_EQ(result->response.header("Content-Type"), "application/json");
    EXPECT_EQ(result->response.url, loopback.url("/v1/events"));
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.method, "PUT");
    EXPECT_EQ(seen.get_header_value("apikey"), "anon");
    EXPECT_EQ(seen.get_header_value("Content-Type"), "application/json");
    EXPECT_FALSE(seen.has_header("Expect")) << "the fetcher adds nothing to requests";
    EXPECT_EQ(seen.body, request.body);
}

TEST(LiveHTTPFetcherTest, StatusCodesAreResponsesAndRedirectsAreFollowed) {
    LoopbackServer loopback;
    loopback.server.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content("not here", "text/plain");
    });
    loopback.server.Get("/old", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/new");
        response.set_header("X-From", "old");
    });
    loopback.server.Get("/new", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("moved", "text/plain");
    });
    LiveHTTPFetcher fetcher;

    auto missing = fetcher.data(get(loopback.url("/missing")));
    ASSERT_TRUE(missing.ok());
    EXPECT_EQ(missing->response.statusCode, 404);
    EXPECT_EQ(missing->body, "not here");

    auto moved = fetcher.data(get(loopback.url("/old")));
    ASSERT_TRUE(moved.ok());
    EXPECT_EQ(moved->response.statusCode, 200);
    EXPECT_EQ(moved->body, "moved");
    EXPECT_EQ(moved->response.url, loopback.url("/new"));
    EXPECT_FALSE(moved->response.header("X-From")) << "headers are the final response's";
}

// Silence is held by the server until the test ends, so only the client's
// time-out can end these requests.
TEST(LiveHTTPFetcherTest, IdleAndWholeRequestTimeoutsFireOnSilence) {
    LoopbackServer loopback;
    const auto holdSilence = [&] { loopback.release.token().sleepFor(std::chrono::hours(1)); };
    loopback.server.Get("/silent", [&](const httplib::Request&, httplib::Response& response) {
        holdSilence();
        response.set_content("late", "text/plain");
    });
    loopback.server.Get("/stalls-midway", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
            sink.write("first", 5);
            holdSilence();
            sink.done();
            return true;
        });
    });
    LiveHTTPFetcher fetcher;

    for (const char* path : {"/silent", "/stalls-midway"}) {
        const auto start = Clock::now();
        auto result = fetcher.data(get(loopback.url(path), 300ms));
        ASSERT_FALSE(result.ok()) << path;
        EXPECT_EQ(result.error().domain, kURLErrorDomain);
        EXPECT_EQ(result.error().code, url_error::kTimedOut) << path;
        EXPECT_EQ(result.error().description, "The request timed out.");
        EXPECT_GE(Clock::now() - start, 300ms) << path;
    }

    // Data came, the idle limit is far away: the whole-request limit ends it.
    HTTPRequest bounded = get(loopback.url("/stalls-midway"), std::chrono::hours(1));
    bounded.resourceTimeout = 300ms;
    auto cut = fetcher.data(bounded);
    ASSERT_FALSE(cut.ok());
    EXPECT_EQ(cut.error().code, url_error::kTimedOut);
}

// A byte every 100 ms against a 1 s idle limit, twelve of them: longer in all
// than the limit, but never that long without a byte. The server sends each
// byte only once the client has received the one before, so a slow machine
// stretches nothing but the pauses the server chose.
TEST(LiveHTTPFetcherTest, SlowSteadyDataIsNotIdle) {
    constexpr std::size_t kBytes = 12;
    std::mutex mutex;
    std::condition_variable received;
    std::uint64_t receivedBytes = 0;  // guarded by mutex
    LoopbackServer loopback;          // after what its handlers use: it stops first
    loopback.server.Get("/drip", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            kBytes, "application/octet-stream", [&](size_t offset, size_t, httplib::DataSink& sink) {
                {
                    std::unique_lock lock(mutex);
                    received.wait(lock, [&] { return receivedBytes >= offset || loopback.release.isCancelled(); });
                }
                loopback.release.token().sleepFor(100ms);
                sink.write(".", 1);
                return true;
            });
    });
    test::TemporaryDirectory downloads;
    DownloadOptions options;
    options.timeout = 1s;
    options.progress = [&](std::uint64_t bytes, std::uint64_t) {
        {
            std::lock_guard lock(mutex);
            receivedBytes = bytes;
        }
        received.notify_all();
    };
    const auto start = Clock::now();
    auto drip = LiveHTTPFetcher(downloads.path()).download(loopback.url("/drip"), options);
    ASSERT_TRUE(drip.ok()) << drip.error().description;
    EXPECT_GE(Clock::now() - start, options.timeout);
    EXPECT_EQ(test::readFile(drip->location), std::string(kBytes, '.'));
}

TEST(LiveHTTPFetcherTest, TransportFailuresCarryURLErrorCodes) {
    LiveHTTPFetcher fetcher;
    const auto codeFor = [&](const std::string& url) {
        auto result = fetcher.data(get(url));
        return result.ok() ? 0 : result.error().code;
    };
    EXPECT_EQ(codeFor("http://127.0.0.1:" + std::to_string(closedPort()) + "/"), url_error::kCannotConnectToHost);
    EXPECT_EQ(codeFor(""), url_error::kBadURL);
    EXPECT_EQ(codeFor("not a url"), url_error::kBadURL);
    EXPECT_EQ(codeFor("http://exa mple.com/"), url_error::kBadURL);
    EXPECT_EQ(codeFor("http://"), url_error::kBadURL);
    EXPECT_EQ(codeFor("ftp://127.0.0.1/file"), url_error::kUnsupportedURL);
    EXPECT_EQ(codeFor("file:///etc/passwd"), url_error::kUnsupportedURL);

    // A server that answers with something that is not HTTP.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::thread garbage([listener] {
        const int connection = ::accept(listener, nullptr, nullptr);
        char buffer[4096];
        (void)::read(connection, buffer, sizeof buffer);
        const char reply[] = "SSH-2.0-OpenSSH_9.6\r\nthis is not http at all\r\n\r\n";
        (void)::write(connection, reply, sizeof reply - 1);
        ::close(connection);
    });
    const int code = codeFor("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
    garbage.join();
    ::close(listener);
    EXPECT_EQ(code, url_error::kBadServerResponse);
}

TEST(LiveHTTPFetcherTest, CancellationEndsARequestPromptly) {
    LoopbackServer loopback;
    loopback.server.Get("/silent", [&](const httplib::Request&, httplib::Response& response) {
        loopback.release.token().sleepFor(10s);
        response.set_content("late", "text/plain");
    });
    LiveHTTPFetcher fetcher;

    CancelSource cancelled;
    cancelled.cancel();
    EXPECT_EQ(fetcher.data(get(loopback.url("/silent")), cancelled.token()).error().code, url_error::kCancelled);

    CancelSource source;
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        source.cancel();
    });
    const auto start = Clock::now();
    auto result = fetcher.data(get(loopback.url("/silent"), 10s), source.token());
    canceller.join();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, url_error::kCancelled);
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(LiveHTTPFetcherTest, DownloadStreamsToATemporaryFileWithProgress) {
    const std::string payload = [] {
        std::string bytes(300 * 1024, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 251);
        return bytes;
    }();
    LoopbackServer loopback;  // after the payload its handlers send: it stops first
    loopback.server.Get("/OpenJDK.pkg", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(payload, "application/octet-stream");
    });
    loopback.server.Get("/stall.pkg", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(payload.size(), "application/octet-stream",
                                      [&](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset > 0) loopback.release.token().sleepFor(std::chrono::hours(1));
                                          sink.write(payload.data(), 1000);
                                          return true;
                                      });
    });
    test::TemporaryDirectory downloads;
    LiveHTTPFetcher fetcher(downloads.path());
    LiveFileSystem fs;

    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    DownloadOptions options;
    options.progress = [&](std::uint64_t received, std::uint64_t expected) {
        progress.emplace_back(received, expected);
    };
    auto result = fetcher.download(loopback.url("/OpenJDK.pkg"), options);
    ASSERT_TRUE(result.ok()) << result.error().description;
    EXPECT_EQ(result->response.statusCode, 200);
    EXPECT_EQ(parentDirectory(result->location), downloads.path());
    EXPECT_EQ(test::readFile(result->location), payload);
    SHA256 whole;
    whole.update(payload);
    EXPECT_EQ(result->sha256, whole.hexDigest()) << "hashed as it arrived, piece by piece";
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(std::uint64_t{payload.size()}, std::uint64_t{payload.size()}));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    ASSERT_TRUE(fs.removeItem(result->location).ok());

    // Failures leave nothing behind.
    options = {};
    options.timeout = 300ms;
    EXPECT_EQ(fetcher.download(loopback.url("/stall.pkg"), options).error().code, url_error::kTimedOut);
    CancelSource source;
    options.timeout = 10s;
    options.cancel = source.token();
    options.progress = [&](std::uint64_t, std::uint64_t) { source.cancel(); };
    EXPECT_EQ(fetcher.download(loopback.url("/stall.pkg"), options).error().code, url_error::kCancelled);
    EXPECT_EQ(fetcher.download("nonsense", {}).error().code, url_error::kBadURL);
    EXPECT_TRUE(fs.contentsOfDirectory(downloads.path()).valueOr(std::vector<std::string>{"?"}).empty());

    LiveHTTPFetcher nowhere(joinPath(downloads.path(), "missing"));
    EXPECT_EQ(nowhere.download(loopback.url("/OpenJDK.pkg")).error().code, url_error::kCannotCreateFile);
}

TEST(LiveHTTPFetcherTest, SHA256OfKnownInputs) {
    SHA256 hash;
    EXPECT_EQ(hash.hexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    hash.update("a");
    hash.update("bc");
    EXPECT_EQ(hash.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// A request that starts on https follows a redirect to https, never to http:
// the plain server is never even asked.
TEST(LiveHTTPFetcherTest, HTTPSNeverFollowsARedirectToPlainHTTP) {
    test::TemporaryDirectory keys;
    const std::string certificate = keys.path() + "/certificate.pem";
    const std::string key = keys.path() + "/key.pem";
    auto made = LiveProcessRunner().run(
        "/usr/bin/env",
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", certificate});
    if (!made || made->exitCode != 0) GTEST_SKIP() << "openssl could not make a certificate";

    std::atomic<int> plainRequests{0};
    LoopbackServer plain;
    plain.server.Get("/target", [&](const httplib::Request&, httplib::Response& response) {
        ++plainRequests;
        response.set_content("plain", "text/plain");
    });
    httplib::SSLServer secure(certificate.c_str(), key.c_str());
    ASSERT_TRUE(secure.is_valid());
    secure.Get("/to-http", [&](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(plain.url("/target"));
    });
    secure.Get("/to-https",
               [](const httplib::Request&, httplib::Response& response) { response.set_redirect("/target"); });
    secure.Get("/target", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("secure", "text/plain");
    });
    const int port = secure.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { secure.listen_after_bind(); });
    while (!secure.is_running()) std::this_thread::sleep_for(1ms);
    const std::string base = "https://127.0.0.1:" + std::to_string(port);
    LiveHTTPFetcher fetcher({}, certificate);

    auto followed = fetcher.data(get(base + "/to-https"));
    auto refused = fetcher.data(get(base + "/to-http"));
    secure.stop();
    serving.join();

    ASSERT_TRUE(followed.ok()) << followed.error().description;
    EXPECT_EQ(followed->body, "secure");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, url_error::kUnsupportedURL) << refused.error().description;
    EXPECT_EQ(plainRequests.load(), 0);
}
#endif

TEST(LiveHTTPFetcherTest, ConcurrentRequestsFromManyThreads) {
    LoopbackServer loopback;
    loopback.server.Get(R"(/echo/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.matches[1].str(), "text/plain");
    });
    const LiveHTTPFetcher fetcher;
    std::atomic<int> correct{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round) {
                const std::string id = std::to_string(i * 100 + round);
                auto result = fetcher.data(get(loopback.url("/echo/" + id)));
                if (result.ok() && result->body == id) ++correct;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(correct.load(), 40);
}

}  // namespace
}  // namespace lumo
