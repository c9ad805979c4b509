// AdoptiumAPI: asks the Adoptium API for the latest release of one Java major
// and returns its macOS installer package.
//
//   GET <base>/v3/assets/latest/21/hotspot?architecture=aarch64&image_type=jdk&os=mac
//   Accept: application/json
//
// The answer is a JSON array of assets; only the first one is used.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/CancelToken.h"
#include "platform/HTTPFetching.h"
#include "platform/Result.h"

namespace lumo {

inline constexpr const char* kAdoptiumAPIBaseURL = "https://api.adoptium.net";
inline constexpr const char* kAdoptiumErrorDomain = "AdoptiumAPI";

// The architecture Adoptium is asked for: that of this build, never detected
// at run time.
#if defined(__aarch64__) || defined(__arm64__)
inline constexpr const char* kAdoptiumArchitecture = "aarch64";
#else
inline constexpr const char* kAdoptiumArchitecture = "x64";
#endif

class AdoptiumAPI {
public:
    struct AssetMetadata {
        std::string downloadURL;
        std::string checksum;  // lower case
        std::string filename;
        std::string releaseName;
        friend bool operator==(const AssetMetadata&, const AssetMetadata&) = default;
    };

    explicit AdoptiumAPI(std::shared_ptr<const HTTPFetching> http, std::string baseURL = kAdoptiumAPIBaseURL,
                         std::chrono::milliseconds requestTimeout = std::chrono::seconds(20));

    // Fails with the URL errors badURL and badServerResponse, a decoding error,
    // or "AdoptiumAPI" 1 (no installer), 2 (bad link), 3 (checksum length).
    Result<AssetMetadata> fetchLatestInstaller(int major, const std::string& architecture,
                                               const CancelToken& cancel = {}) const;

    std::string requestURL(int major, const std::string& architecture) const;

private:
    std::shared_ptr<const HTTPFetching> m_http;
    std::string m_baseURL;
    std::chrono::milliseconds m_requestTimeout;
};

// The description Foundation gives a URL error made from a bare code.
std::string urlErrorDescription(int code);

}  // namespace lumo
