#include "platform/live/LiveHTTPFetcher.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/live/LiveFileSystem.h"
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

TEST(LiveHTTPFetcherTest, IdleTimeoutFiresOnSilenceButNotOnSlowSteadyData) {
    LoopbackServer loopback;
    loopback.server.Get("/silent", [&](const httplib::Request&, httplib::Response& response) {
        loopback.release.token().sleepFor(10s);
        response.set_content("late", "text/plain");
    });
    loopback.server.Get("/stalls-midway", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
            sink.write("first", 5);
            loopback.release.token().sleepFor(10s);
            sink.done();
            return true;
        });
    });
    loopback.server.Get("/drip", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [&](size_t offset, httplib::DataSink& sink) {
            if (offset >= 8) {
                sink.done();
                return true;
            }
            loopback.release.token().sleepFor(100ms);
            sink.write(".", 1);
            return true;
        });
    });
    LiveHTTPFetcher fetcher;

    for (const char* path : {"/silent", "/stalls-midway"}) {
        const auto start = Clock::now();
        auto result = fetcher.data(get(loopback.url(path), 300ms));
        const auto elapsed = Clock::now() - start;
        ASSERT_FALSE(result.ok()) << path;
        EXPECT_EQ(result.error().domain, kURLErrorDomain);
        EXPECT_EQ(result.error().code, url_error::kTimedOut) << path;
        EXPECT_EQ(result.error().description, "The request timed out.");
        EXPECT_GE(elapsed, 250ms) << path;
        EXPECT_LT(elapsed, 3s) << path;
    }

    // 800 ms in total, but never 300 ms without a byte: not an idle time-out.
    auto drip = fetcher.data(get(loopback.url("/drip"), 300ms));
    ASSERT_TRUE(drip.ok()) << drip.error().description;
    EXPECT_EQ(drip->body, "........");

    // The whole-request limit does cut it short.
    HTTPRequest bounded = get(loopback.url("/drip"), 300ms);
    bounded.resourceTimeout = 300ms;
    auto cut = fetcher.data(bounded);
    ASSERT_FALSE(cut.ok());
    EXPECT_EQ(cut.error().code, url_error::kTimedOut);
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
                                          if (offset > 0) loopback.release.token().sleepFor(10s);
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
