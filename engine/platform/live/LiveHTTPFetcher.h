// LiveHTTPFetcher: HTTPFetching on libcurl.
//
// Each call runs one transfer on the calling thread (a worker: it blocks) with
// its own easy handle, driven through a private multi handle so that the
// fetcher wakes at least every 50 ms to look at the cancel token and the idle
// clock. The object has no state and may be used from any number of threads
// at once; libcurl's global set-up happens once, on first use.
//
// Behaviour:
//  - Only http and https, also after redirects (followed, at most 20, unless
//    the request says not to: then a 3xx is the response); a request that
//    starts on https follows redirects to https only. The
//    fetcher adds no headers of its own beyond what libcurl always sends
//    (Host, Accept: */*, and Content-Type for a body the caller left without
//    one); it suppresses "Expect: 100-continue".
//  - HTTPRequest::timeout is an idle limit: the request fails with kTimedOut
//    when no byte has moved in either direction for that long, the connection
//    phase included. resourceTimeout, when set, bounds the whole request.
//  - A status of any kind is a response. Headers and status are those of the
//    last response after redirects; HTTPResponse::url is the final URL.
//  - Transport failures are Errors in kURLErrorDomain with a url_error code
//    and a readable description ("The request timed out.").
//  - download() streams the body into a new file (mode 0600) in the
//    temporary directory and returns its path; on any failure that file is
//    removed. The caller moves or removes it. The bytes are hashed as they
//    are written (HTTPDownloadResult::sha256); nothing is held in memory.
#pragma once

#include <string>

#include "platform/HTTPFetching.h"

namespace lumo {

class LiveHTTPFetcher final : public HTTPFetching {
public:
    // `temporaryDirectory` receives downloads; empty means the user's
    // temporary directory ($TMPDIR, else /tmp). `certificateAuthorities`, a
    // PEM file, replaces the system's trusted authorities when given (the
    // loopback HTTPS servers of the tests); the app never sets it.
    explicit LiveHTTPFetcher(std::string temporaryDirectory = {}, std::string certificateAuthorities = {});

    Result<HTTPDataResult> data(const HTTPRequest& request, const CancelToken& cancel = {}) const override;
    Result<HTTPDownloadResult> download(const std::string& url, const DownloadOptions& options = {}) const override;

private:
    std::string m_temporaryDirectory;
    std::string m_certificateAuthorities;
};

// The Error a URL loading failure with this url_error code carries.
Error makeURLError(int code, const std::string& detail = {});

}  // namespace lumo
