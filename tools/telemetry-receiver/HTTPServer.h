// BoundedHTTPServer: the receiver's HTTP/1.1 server, bounded in every way a
// client could push it.
//
// A general-purpose server buffers whatever a client sends until it sees a
// line break, reads a body it has refused to the end, and lets a client that
// trickles one byte every few seconds hold a thread for hours. Here:
//  - the request line and headers together are at most `maxHeadBytes` (431
//    beyond), and must all arrive within `readTimeout` of their first byte;
//  - a body is read only with a Content-Length of at most `maxBodyBytes`
//    (413 at once otherwise, before any of it is read, and the connection
//    is closed); it must arrive within `readTimeout` after the head;
//    Transfer-Encoding is refused (411: send a Content-Length);
//  - an answer must be taken within `writeTimeout`;
//  - an idle kept-alive connection is closed after `keepAliveTimeout`;
//  - `threads` workers serve one connection each; at most
//    `maxQueuedConnections` wait for one (503 beyond).
// The parser is a pure function (parseRequestHead) and is fuzzed.
//
//   BoundedHTTPServer server({}, [](const ServerRequest& r) { return ServerResponse{201}; });
//   auto port = server.listen("127.0.0.1", 0);
//   ...
//   server.stop();
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Result.h"

namespace lumo {

struct HTTPRequestHead {
    std::string method;
    std::string target;  // as sent
    std::string path;    // the target up to '?'
    std::vector<std::pair<std::string, std::string>> query;  // percent-decoded
    int minorVersion = 1;                                     // HTTP/1.x
    std::vector<std::pair<std::string, std::string>> headers;
    std::uint64_t contentLength = 0;
    bool keepAlive = true;
    bool expectContinue = false;

    // Case-insensitive; the first of that name.
    std::optional<std::string> header(std::string_view name) const;
    std::optional<std::string> queryValue(std::string_view name) const;
};

struct HeadParse {
    enum class State { incomplete, complete, invalid };
    State state = State::incomplete;
    HTTPRequestHead head;
    std::size_t consumed = 0;  // bytes of the head, its blank line included
    int status = 0;            // the answer to an invalid head
    std::string reason;
};
// Parses the head at the start of `buffer`: incomplete while no blank line
// has come within `maxHeadBytes`; invalid (with the status to answer) for
// anything that is not a well-formed HTTP/1.0 or 1.1 request head.
HeadParse parseRequestHead(std::string_view buffer, std::size_t maxHeadBytes);

// The reason phrase of a status ("Created"), "Unknown" for others.
const char* reasonPhrase(int status);

struct ServerRequest {
    HTTPRequestHead head;
    std::string body;
    std::string remoteAddress;  // "127.0.0.1", "::1", ...
};

struct ServerResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    bool close = false;  // close the connection after this answer
};

class BoundedHTTPServer {
public:
    struct Limits {
        std::size_t maxHeadBytes = 16 * 1024;
        std::size_t maxBodyBytes = 64 * 1024;
        std::chrono::milliseconds readTimeout{5000};
        std::chrono::milliseconds writeTimeout{5000};
        std::chrono::milliseconds keepAliveTimeout{5000};
        std::size_t threads = 64;
        std::size_t maxQueuedConnections = 1024;
        std::size_t maxRequestsPerConnection = 1000;
    };
    using Handler = std::function<ServerResponse(const ServerRequest&)>;

    BoundedHTTPServer(Limits limits, Handler handler);
    ~BoundedHTTPServer();
    BoundedHTTPServer(const BoundedHTTPServer&) = delete;
    BoundedHTTPServer& operator=(const BoundedHTTPServer&) = delete;

    // Binds (port 0: any free port) and serves on threads of its own.
    // Returns the port.
    Result<int> listen(const std::string& host, int port);
    // Stops accepting, ends every connection (handlers already running
    // finish first) and joins the threads. Idempotent.
    void stop();

private:
    struct Connection {
        int fd = -1;
        std::string remoteAddress;
    };

    void acceptLoop();
    void workerLoop();
    void serve(Connection connection);

    Limits m_limits;
    Handler m_handler;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};  // a byte in it wakes every poll for good

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Connection> m_queue;  // guarded by m_mutex
    bool m_stopping = false;         // guarded by m_mutex
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
    bool m_stopped = false;  // guarded by m_mutex
};

}  // namespace lumo
