#include "platform/live/LiveHTTPFetcher.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/UTF8.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/PosixFile.h"

namespace lumo {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a running transfer looks at its cancel token and idle clock.
constexpr milliseconds kPollInterval{50};
constexpr long kMaximumRedirects = 20;

void ensureCurlInitialized() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The state one transfer's callbacks share. Lives on the calling thread's
// stack for the length of the transfer.
struct Transfer {
    CURL* easy = nullptr;
    // Receives body bytes; returns false to fail the transfer (CURLE_WRITE_ERROR).
    std::function<bool(std::string_view)> sink;
    HTTPHeaders headers;
    Clock::time_point lastActivity = Clock::now();
    curl_off_t uploaded = 0;
    curl_off_t downloaded = 0;
    int sinkError = 0;  // errno of a failed sink
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    transfer->lastActivity = Clock::now();
    if (transfer->sink && !transfer->sink(std::string_view(data, length))) return length == 0 ? 1 : 0;
    return length;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    transfer->lastActivity = Clock::now();
    const std::string_view raw(data, length);
    const std::string_view line = trimmed(raw);
    if (line.substr(0, 5) == "HTTP/") {
        // A new response (after a redirect, a 100 Continue or a proxy's
        // CONNECT): only the last one's headers count.
        transfer->headers.clear();
    } else if (!raw.empty() && (raw.front() == ' ' || raw.front() == '\t')) {
        // An obsolete folded continuation of the previous header.
        if (!transfer->headers.empty() && !line.empty()) {
            transfer->headers.back().second += " ";
            transfer->headers.back().second += line;
        }
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
        transfer->headers.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                       std::string(trimmed(line.substr(colon + 1))));
    }
    return length;
}

int onProgress(void* context, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto* transfer = static_cast<Transfer*>(context);
    if (downloaded != transfer->downloaded || uploaded != transfer->uploaded) {
        transfer->downloaded = downloaded;
        transfer->uploaded = uploaded;
        transfer->lastActivity = Clock::now();
    }
    return 0;
}

const char* urlErrorText(int code) {
    switch (code) {
        case url_error::kCancelled: return "cancelled";
        case url_error::kBadURL: return "bad URL";
        case url_error::kTimedOut: return "The request timed out.";
        case url_error::kUnsupportedURL: return "unsupported URL";
        case url_error::kCannotFindHost: return "A server with the specified hostname could not be found.";
        case url_error::kCannotConnectToHost: return "Could not connect to the server.";
        case url_error::kNetworkConnectionLost: return "The network connection was lost.";
        case url_error::kNotConnectedToInternet: return "The Internet connection appears to be offline.";
        case url_error::kBadServerResponse: return "The server returned a response that could not be read.";
        case url_error::kCannotCreateFile: return "The downloaded file could not be saved.";
        default: return "An unknown error occurred.";
    }
}

int urlErrorCode(CURLcode code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL: return url_error::kUnsupportedURL;
        case CURLE_URL_MALFORMAT: return url_error::kBadURL;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return url_error::kCannotFindHost;
        case CURLE_COULDNT_CONNECT: return url_error::kCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT: return url_error::kTimedOut;
        case CURLE_ABORTED_BY_CALLBACK: return url_error::kCancelled;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_HTTP3: return url_error::kBadServerResponse;
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR: return url_error::kNetworkConnectionLost;
        default: return url_error::kUnknown;
    }
}

Error curlError(CURLcode code, const char* errorBuffer) {
    const int urlCode = urlErrorCode(code);
    std::string detail = errorBuffer && *errorBuffer ? errorBuffer : curl_easy_strerror(code);
    return makeURLError(urlCode, urlCode == url_error::kUnknown ? detail : std::string());
}

// Rejects what cannot be a request before libcurl sees it: malformed URLs
// (kBadURL) and schemes other than http and https (kUnsupportedURL).
std::optional<Error> checkURL(const std::string& url) {
    std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed) return makeURLError(url_error::kUnknown, "out of memory");
    if (url.empty()) return makeURLError(url_error::kBadURL);
    const CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0);
    if (code == CURLUE_UNSUPPORTED_SCHEME) return makeURLError(url_error::kUnsupportedURL);
    if (code != CURLUE_OK) return makeURLError(url_error::kBadURL);
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK || !scheme) {
        return makeURLError(url_error::kBadURL);
    }
    const bool supported = equalIgnoringCase(scheme, "http") || equalIgnoringCase(scheme, "https");
    curl_free(scheme);
    if (!supported) return makeURLError(url_error::kUnsupportedURL);
    return std::nullopt;
}

bool isHTTPS(const std::string& url) { return url.size() >= 6 && equalIgnoringCase(url.substr(0, 6), "https:"); }

// http and https only; a request that starts on https stays on https through
// every redirect. (The _STR options arrived in libcurl 7.85, and the bit masks
// are deprecated from then on; Debian 12 has 7.88, Homebrew and macOS 8.x.)
void setProtocols(CURL* easy, bool httpsOnlyRedirects) {
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, httpsOnlyRedirects ? "https" : "http,https");
#else
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(
        easy, CURLOPT_REDIR_PROTOCOLS,
        httpsOnlyRedirects ? static_cast<long>(CURLPROTO_HTTPS) : static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
}

long clampedMilliseconds(milliseconds duration) {
    return static_cast<long>(std::clamp<milliseconds::rep>(duration.count(), 1, 1'000'000'000));
}

// Runs one transfer to its end on the calling thread. The caller has checked
// the URL.
Result<HTTPResponse> perform(const HTTPRequest& request, const CancelToken& cancel, Transfer& transfer,
                             const std::string& certificateAuthorities) {
    if (cancel.isCancelled()) return makeURLError(url_error::kCancelled);
    ensureCurlInitialized();

    std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), curl_easy_cleanup);
    std::unique_ptr<CURLM, CURLMcode (*)(CURLM*)> multi(curl_multi_init(), curl_multi_cleanup);
    if (!easy || !multi) return makeURLError(url_error::kUnknown, "libcurl could not be initialised");
    CURL* handle = easy.get();
    transfer.easy = handle;

    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    // Threads: no SIGALRM around name resolution, no SIGPIPE on writes.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    setProtocols(handle, isHTTPS(request.url));
    if (!certificateAuthorities.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, certificateAuthorities.c_str());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaximumRedirects);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, clampedMilliseconds(request.timeout));
    if (request.resourceTimeout) {
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, clampedMilliseconds(*request.resourceTimeout));
    }
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    const std::string& method = request.method;
    if (equalIgnoringCase(method, "HEAD")) {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (equalIgnoringCase(method, "POST") || !request.body.empty()) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        if (!equalIgnoringCase(method, "POST")) curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (!equalIgnoringCase(method, "GET")) {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList(nullptr, curl_slist_free_all);
    const auto appendHeader = [&headerList](const std::string& line) {
        // On failure libcurl leaves the list as it was; on success it returns its head.
        curl_slist* head = curl_slist_append(headerList.get(), line.c_str());
        if (!head) return false;
        (void)headerList.release();
        headerList.reset(head);
        return true;
    };
    bool callerSetExpect = false;
    for (const auto& [name, value] : request.headers) {
        callerSetExpect = callerSetExpect || equalIgnoringCase(name, "Expect");
        // "Name;" is libcurl's spelling of a header with an empty value.
        std::string line = name;
        line += value.empty() ? ";" : ": ";
        line += value;
        if (!appendHeader(line)) return makeURLError(url_error::kUnknown, "out of memory");
    }
    if (!callerSetExpect && !appendHeader("Expect:")) return makeURLError(url_error::kUnknown, "out of memory");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());

    if (curl_multi_add_handle(multi.get(), handle) != CURLM_OK) {
        return makeURLError(url_error::kUnknown, "libcurl could not start the transfer");
    }
    // Detach before either handle is cleaned up, however we leave.
    struct Detach {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } detach{multi.get(), handle};

    transfer.lastActivity = Clock::now();
    for (;;) {
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(multi.get(), &running); code != CURLM_OK) {
            return makeURLError(url_error::kUnknown, curl_multi_strerror(code));
        }
        if (running == 0) break;
        if (cancel.isCancelled()) return makeURLError(url_error::kCancelled);
        const auto idle = std::chrono::duration_cast<milliseconds>(Clock::now() - transfer.lastActivity);
        if (idle >= request.timeout) return makeURLError(url_error::kTimedOut);
        const milliseconds wait = std::clamp(request.timeout - idle, milliseconds(1), kPollInterval);
        if (const CURLMcode code = curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait.count()), nullptr);
            code != CURLM_OK) {
            return makeURLError(url_error::kUnknown, curl_multi_strerror(code));
        }
    }

    CURLcode result = CURLE_OK;
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &pending)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle) result = message->data.result;
    }
    if (result == CURLE_WRITE_ERROR && transfer.sinkError != 0) {
        return makeURLError(url_error::kCannotCreateFile, posixError(transfer.sinkError).description);
    }
    if (result == CURLE_UNSUPPORTED_PROTOCOL) {
        // The URL's own scheme was checked above: this is either a redirect to
        // a scheme we do not follow (after a 3xx: another protocol, or http
        // from https) or a reply that is not HTTP at all.
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        return makeURLError(status == 0 ? url_error::kBadServerResponse : url_error::kUnsupportedURL);
    }
    if (result != CURLE_OK) return curlError(result, errorBuffer);

    HTTPResponse response;
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    response.statusCode = static_cast<int>(status);
    char* finalURL = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &finalURL);
    response.url = finalURL ? finalURL : request.url;
    response.headers = std::move(transfer.headers);
    return response;
}

}  // namespace

Error makeURLError(int code, const std::string& detail) {
    std::string description = urlErrorText(code);
    if (!detail.empty()) description += " (" + detail + ")";
    return Error{kURLErrorDomain, code, std::move(description)};
}

LiveHTTPFetcher::LiveHTTPFetcher(std::string temporaryDirectory, std::string certificateAuthorities)
    : m_temporaryDirectory(std::move(temporaryDirectory)),
      m_certificateAuthorities(std::move(certificateAuthorities)) {}

Result<HTTPDataResult> LiveHTTPFetcher::data(const HTTPRequest& request, const CancelToken& cancel) const {
    if (auto invalid = checkURL(request.url)) return *invalid;
    HTTPDataResult result;
    Transfer transfer;
    transfer.sink = [&](std::string_view bytes) {
        result.body.append(bytes);
        return true;
    };
    auto response = perform(request, cancel, transfer, m_certificateAuthorities);
    if (!response) return response.error();
    result.response = std::move(*response);
    return result;
}

Result<HTTPDownloadResult> LiveHTTPFetcher::download(const std::string& url, const DownloadOptions& options) const {
    if (auto invalid = checkURL(url)) return *invalid;
    const std::string directory =
        m_temporaryDirectory.empty() ? LiveFileSystem().temporaryDirectory() : m_temporaryDirectory;
    auto file = posix::createUniqueFile(directory, "lumo-download-", 0600);
    if (!file) return makeURLError(url_error::kCannotCreateFile, file.error().description);
    const auto discard = [&](Error error) {
        file->fd.reset();
        ::unlink(file->path.c_str());
        return error;
    };

    HTTPRequest request;
    request.url = url;
    request.timeout = options.timeout;
    Transfer transfer;
    std::uint64_t received = 0;
    SHA256 hash;
    transfer.sink = [&](std::string_view bytes) {
        if (const int error = posix::writeAll(file->fd.get(), bytes)) {
            transfer.sinkError = error;
            return false;
        }
        hash.update(bytes);
        received += bytes.size();
        if (options.progress) {
            curl_off_t expected = -1;
            curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
            options.progress(received, expected > 0 ? static_cast<std::uint64_t>(expected) : 0);
        }
        return true;
    };
    auto response = perform(request, options.cancel, transfer, m_certificateAuthorities);
    if (!response) return discard(response.error());
    if (const int error = file->fd.reset()) {
        return discard(makeURLError(url_error::kCannotCreateFile, posixError(error).description));
    }
    return HTTPDownloadResult{std::move(file->path), std::move(*response), hash.hexDigest()};
}

}  // namespace lumo
