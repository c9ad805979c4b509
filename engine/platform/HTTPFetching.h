// HTTPFetching: HTTP requests and downloads.
//
// The fetcher adds nothing to a request; callers set headers and time-outs.
// Transport failures come back as Errors in kURLErrorDomain with the codes
// below (the values of the platform's URL error codes); an HTTP status of any
// kind is a response, not an error -- status checks are the caller's.
//
// A request for an https URL never follows a redirect to plain http: the
// answers that travel this way (release metadata with its checksum, the
// packages it describes) are only as trustworthy as their transport.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/FileSystemOperating.h"
#include "platform/Result.h"

namespace lumo {

namespace url_error {
inline constexpr int kCancelled = -999;
inline constexpr int kBadURL = -1000;
inline constexpr int kTimedOut = -1001;
inline constexpr int kUnsupportedURL = -1002;
inline constexpr int kCannotFindHost = -1003;
inline constexpr int kCannotConnectToHost = -1004;
inline constexpr int kNetworkConnectionLost = -1005;
inline constexpr int kNotConnectedToInternet = -1009;
inline constexpr int kBadServerResponse = -1011;
inline constexpr int kCannotCreateFile = -3000;
inline constexpr int kUnknown = -1;
}  // namespace url_error

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

struct HTTPRequest {
    std::string url;
    std::string method = "GET";
    HTTPHeaders headers;
    std::string body;
    // Idle time-out: the request fails when no data moves for this long.
    std::chrono::milliseconds timeout{60'000};
    // Whole-request limit, when set.
    std::optional<std::chrono::milliseconds> resourceTimeout;
    // False: a 3xx answer is the response (its Location header tells where).
    bool followRedirects = true;
};

struct HTTPResponse {
    int statusCode = 0;
    std::string url;  // after redirects
    HTTPHeaders headers;

    // Case-insensitive header look-up.
    std::optional<std::string> header(const std::string& name) const;
};

struct HTTPDataResult {
    Bytes body;
    HTTPResponse response;
};

struct HTTPDownloadResult {
    std::string location;  // a temporary file the caller moves or removes
    HTTPResponse response;
    // SHA-256 of the bytes written to `location` (64 lower-case hexadecimal
    // digits), taken as they arrived: nobody has to read the file again.
    std::string sha256;
};

// SHA-256 of bytes fed piece by piece.
//
//   SHA256 hash;
//   hash.update(first);
//   hash.update(second);
//   std::string hex = hash.hexDigest();  // 64 lower-case hexadecimal digits
class SHA256 {
public:
    SHA256();
    ~SHA256();
    SHA256(const SHA256&) = delete;
    SHA256& operator=(const SHA256&) = delete;

    void update(std::string_view bytes);
    // The digest of everything fed so far; the hasher starts over afterwards.
    std::string hexDigest();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

struct DownloadOptions {
    std::chrono::milliseconds timeout{60'000};
    // Called with bytes received and the expected total (0 when unknown).
    std::function<void(std::uint64_t received, std::uint64_t expected)> progress;
    CancelToken cancel;
};

class HTTPFetching {
public:
    virtual ~HTTPFetching() = default;
    // Blocks the calling (worker) thread. `cancel` ends the request with kCancelled.
    virtual Result<HTTPDataResult> data(const HTTPRequest& request, const CancelToken& cancel = {}) const = 0;
    virtual Result<HTTPDownloadResult> download(const std::string& url, const DownloadOptions& options = {}) const = 0;
};

}  // namespace lumo
