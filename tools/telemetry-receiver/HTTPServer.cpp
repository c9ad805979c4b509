#include "HTTPServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumo {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kMaxHeaderCount = 100;
constexpr std::size_t kReadChunk = 16 * 1024;
// After refusing a request whose body is still coming, read and discard this
// much for this long before closing, so the client sees the answer rather
// than a reset.
constexpr std::size_t kLingerBytes = 1024 * 1024;
constexpr std::chrono::milliseconds kLingerTime{1000};

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar); }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Splits off one line ending in LF (a CR before it is dropped); nothing when
// no LF has come yet.
std::optional<std::string_view> takeLine(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

HeadParse invalid(int status, std::string reason) {
    HeadParse parse;
    parse.state = HeadParse::State::invalid;
    parse.status = status;
    parse.reason = std::move(reason);
    return parse;
}

bool hasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
    });
}

}  // namespace

std::optional<std::string> HTTPRequestHead::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalIgnoringCase(key, name)) return value;
    }
    return std::nullopt;
}

std::optional<std::string> HTTPRequestHead::queryValue(std::string_view name) const {
    for (const auto& [key, value] : query) {
        if (key == name) return value;
    }
    return std::nullopt;
}

HeadParse parseRequestHead(std::string_view buffer, std::size_t maxHeadBytes) {
    // The whole head (with its blank line) must fit the limit.
    const std::string_view window = buffer.substr(0, std::min(buffer.size(), maxHeadBytes));
    std::string_view rest = window;
    // Empty lines before a request line are ignored.
    std::optional<std::string_view> requestLine;
    for (;;) {
        requestLine = takeLine(rest);
        if (!requestLine || !requestLine->empty()) break;
    }
    const auto tooLargeOrIncomplete = [&]() {
        if (buffer.size() >= maxHeadBytes) return invalid(431, "the request head is too large");
        return HeadParse{};
    };
    if (!requestLine) return tooLargeOrIncomplete();

    HeadParse parse;
    auto& head = parse.head;
    {
        const std::size_t first = requestLine->find(' ');
        const std::size_t second = first == std::string_view::npos ? first : requestLine->find(' ', first + 1);
        if (second == std::string_view::npos || requestLine->find(' ', second + 1) != std::string_view::npos)
            return invalid(400, "malformed request line");
        const std::string_view method = requestLine->substr(0, first);
        const std::string_view target = requestLine->substr(first + 1, second - first - 1);
        const std::string_view version = requestLine->substr(second + 1);
        if (!isToken(method)) return invalid(400, "malformed method");
        if (target.empty() || hasControl(target) || target.find_first_of(" \t") != std::string_view::npos)
            return invalid(400, "malformed request target");
        if (version == "HTTP/1.1") {
            head.minorVersion = 1;
        } else if (version == "HTTP/1.0") {
            head.minorVersion = 0;
        } else if (version.substr(0, 5) == "HTTP/") {
            return invalid(505, "only HTTP/1.0 and HTTP/1.1 are served");
        } else {
            return invalid(400, "malformed HTTP version");
        }
        head.method = std::string(method);
        head.target = std::string(target);
        const std::size_t question = target.find('?');
        head.path = std::string(target.substr(0, question));
        if (question != std::string_view::npos) {
            std::string_view query = target.substr(question + 1);
            while (!query.empty()) {
                const std::size_t amp = query.find('&');
                const std::string_view pair = query.substr(0, amp);
                query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
                if (pair.empty()) continue;
                const std::size_t equals = pair.find('=');
                head.query.emplace_back(percentDecoded(pair.substr(0, equals)),
                                        equals == std::string_view::npos ? std::string()
                                                                         : percentDecoded(pair.substr(equals + 1)));
            }
        }
    }

    bool sawContentLength = false;
    bool sawTransferEncoding = false;
    for (;;) {
        const auto line = takeLine(rest);
        if (!line) return tooLargeOrIncomplete();
        if (line->empty()) break;
        if (line->front() == ' ' || line->front() == '\t') return invalid(400, "folded header lines are not accepted");
        const std::size_t colon = line->find(':');
        if (colon == std::string_view::npos) return invalid(400, "malformed header line");
        const std::string_view name = line->substr(0, colon);
        const std::string_view value = trimmed(line->substr(colon + 1));
        if (!isToken(name)) return invalid(400, "malformed header name");
        if (hasControl(value)) return invalid(400, "control characters in a header value");
        if (head.headers.size() >= kMaxHeaderCount) return invalid(431, "too many header lines");
        if (equalIgnoringCase(name, "Content-Length")) {
            if (value.empty() || value.size() > 18 ||
                !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return invalid(400, "malformed Content-Length");
            std::uint64_t length = 0;
            for (const char c : value) length = length * 10 + static_cast<std::uint64_t>(c - '0');
            if (sawContentLength && length != head.contentLength) return invalid(400, "conflicting Content-Length");
            sawContentLength = true;
            head.contentLength = length;
        } else if (equalIgnoringCase(name, "Transfer-Encoding")) {
            sawTransferEncoding = true;
        } else if (equalIgnoringCase(name, "Connection")) {
            // A list of tokens.
            std::string_view tokens = value;
            while (!tokens.empty()) {
                const std::size_t comma = tokens.find(',');
                const std::string_view token = trimmed(tokens.substr(0, comma));
                tokens.remove_prefix(comma == std::string_view::npos ? tokens.size() : comma + 1);
                if (equalIgnoringCase(token, "close")) head.keepAlive = false;
                if (equalIgnoringCase(token, "keep-alive") && head.minorVersion == 0) head.keepAlive = true;
            }
        } else if (equalIgnoringCase(name, "Expect")) {
            if (!equalIgnoringCase(value, "100-continue")) return invalid(417, "only 100-continue is expected");
            head.expectContinue = true;
        }
        head.headers.emplace_back(std::string(name), std::string(value));
    }
    if (head.minorVersion == 0 && !head.header("Connection")) head.keepAlive = false;
    if (sawTransferEncoding) {
        if (sawContentLength) return invalid(400, "both Transfer-Encoding and Content-Length");
        return invalid(411, "send the body with a Content-Length");
    }
    parse.state = HeadParse::State::complete;
    parse.consumed = window.size() - rest.size();
    return parse;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 411: return "Length Required";
        case 413: return "Content Too Large";
        case 415: return "Unsupported Media Type";
        case 417: return "Expectation Failed";
        case 422: return "Unprocessable Content";
        case 429: return "Too Many Requests";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        case 505: return "HTTP Version Not Supported";
        default: return "Unknown";
    }
}

// One connection's socket, waited on together with the server's stop pipe.
namespace {

enum class IO { ok, closed, timedOut, stopped, failed };

class Socket {
public:
    Socket(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}

    IO wait(short events, SteadyClock::time_point deadline) const {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return IO::timedOut;
            pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, static_cast<int>(std::min<std::int64_t>(left.count(), 60'000)));
            if (ready < 0) {
                if (errno == EINTR) continue;
                return IO::failed;
            }
            if (fds[1].revents != 0) return IO::stopped;
            if (fds[0].revents != 0) return IO::ok;
        }
    }

    // Appends what arrives (at most `limit` bytes) to `buffer`.
    IO read(std::string& buffer, std::size_t limit, SteadyClock::time_point deadline) const {
        for (;;) {
            if (const IO waited = wait(POLLIN, deadline); waited != IO::ok) return waited;
            char chunk[kReadChunk];
            const ssize_t count = ::recv(m_fd, chunk, std::min(limit, sizeof chunk), 0);
            if (count > 0) {
                buffer.append(chunk, static_cast<std::size_t>(count));
                return IO::ok;
            }
            if (count == 0) return IO::closed;
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return IO::failed;
        }
    }

    IO write(std::string_view bytes, SteadyClock::time_point deadline) const {
        while (!bytes.empty()) {
            const ssize_t count = ::send(m_fd, bytes.data(), bytes.size(), kSendFlags);
            if (count > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(count));
                continue;
            }
            if (count < 0 && errno == EINTR) continue;
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (const IO waited = wait(POLLOUT, deadline); waited != IO::ok) return waited;
                continue;
            }
            return IO::failed;
        }
        return IO::ok;
    }

    // Ends our side, then reads and discards for a bounded time, so that an
    // answer sent before a refused body is read by the client, not reset.
    void lingeringClose() const {
        ::shutdown(m_fd, SHUT_WR);
        const auto deadline = SteadyClock::now() + kLingerTime;
        std::size_t discarded = 0;
        std::string sink;
        while (discarded < kLingerBytes) {
            sink.clear();
            if (read(sink, kReadChunk, deadline) != IO::ok) break;
            discarded += sink.size();
        }
    }

private:
    int m_fd;
    int m_stopFd;
};

std::string responseText(const ServerResponse& response, bool keepAlive) {
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
    if (!response.body.empty()) text += "Content-Type: " + response.contentType + "\r\n";
    text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    text += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    text += response.body;
    return text;
}

std::string messageBody(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return "{\"message\":\"" + escaped + "\"}";
}

std::string addressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
    std::string out = text;
    if (out.rfind("::ffff:", 0) == 0 && out.find('.') != std::string::npos) out.erase(0, 7);
    return out;
}

void prepareSocket(int fd) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // An answer is one write: nothing to gain from holding it back.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#ifdef SO_NOSIGPIPE
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
}

}  // namespace

BoundedHTTPServer::BoundedHTTPServer(Limits limits, Handler handler)
    : m_limits(limits), m_handler(std::move(handler)) {}

BoundedHTTPServer::~BoundedHTTPServer() { stop(); }

Result<int> BoundedHTTPServer::listen(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0) {
        return Error{"TelemetryReceiver", 1, "cannot resolve " + host + ": " + ::gai_strerror(error)};
    }
    int lastError = 0;
    for (addrinfo* candidate = found; candidate && m_listenFd < 0; candidate = candidate->ai_next) {
        const int fd = ::socket(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, candidate->ai_addr, candidate->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            lastError = errno;
            ::close(fd);
            continue;
        }
        m_listenFd = fd;
    }
    ::freeaddrinfo(found);
    if (m_listenFd < 0) {
        return Error{"TelemetryReceiver", 1,
                     "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(lastError)};
    }
    prepareSocket(m_listenFd);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    const int boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                      : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (::pipe(m_stopPipe) != 0) return posixError(errno, "pipe");
    ::fcntl(m_stopPipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(m_stopPipe[1], F_SETFD, FD_CLOEXEC);

    for (std::size_t i = 0; i < std::max<std::size_t>(1, m_limits.threads); ++i) {
        m_workers.emplace_back([this] { workerLoop(); });
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
    return boundPort;
}

void BoundedHTTPServer::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped) return;
        m_stopped = true;
        m_stopping = true;
    }
    if (m_stopPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(m_stopPipe[1], &byte, 1);
    }
    m_ready.notify_all();
    if (m_acceptor.joinable()) m_acceptor.join();
    for (auto& worker : m_workers) worker.join();
    m_workers.clear();
    for (const auto& connection : m_queue) ::close(connection.fd);
    m_queue.clear();
    for (int* fd : {&m_listenFd, &m_stopPipe[0], &m_stopPipe[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void BoundedHTTPServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length);
        if (fd < 0) {
            // Out of descriptors or memory: give the workers a moment to free some.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;  // EAGAIN, ECONNABORTED: try again
        }
        prepareSocket(fd);
        bool queued = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.size() < m_limits.maxQueuedConnections) {
                m_queue.push_back(Connection{fd, addressText(peer)});
                queued = true;
            }
        }
        if (queued) {
            m_ready.notify_one();
        } else {
            static const std::string busy =
                "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            [[maybe_unused]] const auto sent = ::send(fd, busy.data(), busy.size(), kSendFlags);
            ::close(fd);
        }
    }
}

void BoundedHTTPServer::workerLoop() {
    for (;;) {
        Connection connection;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            connection = std::move(m_queue.front());
            m_queue.pop_front();
        }
        serve(connection);
        ::close(connection.fd);
    }
}

void BoundedHTTPServer::serve(Connection connection) {
    const Socket socket(connection.fd, m_stopPipe[0]);
    const auto answer = [&](const ServerResponse& response, bool keepAlive) {
        return socket.write(responseText(response, keepAlive), SteadyClock::now() + m_limits.writeTimeout) == IO::ok;
    };
    const auto refuse = [&](int status, const std::string& reason) {
        if (answer(ServerResponse{status, messageBody(reason), "application/json", true}, false))
            socket.lingeringClose();
    };

    std::string buffer;
    for (std::size_t served = 0; served < m_limits.maxRequestsPerConnection; ++served) {
        // The first byte: within the idle limit of a kept-alive connection.
        if (buffer.empty()) {
            const auto idle = served == 0 ? m_limits.readTimeout : m_limits.keepAliveTimeout;
            if (socket.read(buffer, kReadChunk, SteadyClock::now() + idle) != IO::ok) return;
        }
        // The whole head within the read limit of its first byte.
        const auto headDeadline = SteadyClock::now() + m_limits.readTimeout;
        HeadParse parse = parseRequestHead(buffer, m_limits.maxHeadBytes);
        while (parse.state == HeadParse::State::incomplete) {
            const IO read = socket.read(buffer, kReadChunk, headDeadline);
            if (read == IO::timedOut) return refuse(408, "the request head came too slowly");
            if (read != IO::ok) return;
            parse = parseRequestHead(buffer, m_limits.maxHeadBytes);
        }
        if (parse.state == HeadParse::State::invalid) return refuse(parse.status, parse.reason);
        buffer.erase(0, parse.consumed);

        ServerRequest request;
        request.head = std::move(parse.head);
        request.remoteAddress = connection.remoteAddress;
        const std::uint64_t length = request.head.contentLength;
        if (length > m_limits.maxBodyBytes) {
            return refuse(413, "the body is larger than " + std::to_string(m_limits.maxBodyBytes) + " bytes");
        }
        if (request.head.expectContinue && buffer.size() < length) {
            if (socket.write("HTTP/1.1 100 Continue\r\n\r\n", SteadyClock::now() + m_limits.writeTimeout) != IO::ok)
                return;
        }
        const auto bodyDeadline = SteadyClock::now() + m_limits.readTimeout;
        while (buffer.size() < length) {
            const IO read = socket.read(buffer, static_cast<std::size_t>(length) - buffer.size(), bodyDeadline);
            if (read == IO::timedOut) return refuse(408, "the body came too slowly");
            if (read != IO::ok) return;
        }
        request.body = buffer.substr(0, static_cast<std::size_t>(length));
        buffer.erase(0, static_cast<std::size_t>(length));

        ServerResponse response;
        try {
            response = m_handler(request);
        } catch (...) {
            response = ServerResponse{500, messageBody("the request could not be handled"), "application/json", true};
        }
        bool stopping = false;
        {
            std::lock_guard lock(m_mutex);
            stopping = m_stopping;
        }
        const bool keepAlive = request.head.keepAlive && !response.close && !stopping &&
                               served + 1 < m_limits.maxRequestsPerConnection;
        if (!answer(response, keepAlive) || !keepAlive) return;
    }
}

}  // namespace lumo
