// The publisher's host names and reverse-DNS prefix, in one place.
#pragma once

#include <string>
#include <string_view>

namespace lumo::publisher {

inline constexpr const char* kSiteRoot = "https://brimwell.com";
inline constexpr const char* kReverseDNSPrefix = "com.brimwell";
inline constexpr const char* kWarpSite = "https://www.warp.example";

// A page on the publisher's site; `path` starts with "/".
inline std::string page(std::string_view path) { return std::string(kSiteRoot) + std::string(path); }

// The partner link to the Warp terminal, crediting the product through `utmContent`.
inline std::string warpAffiliate(std::string_view utmContent) {
    return std::string(kWarpSite) +
           "/mac-terminal?utm_source=brimwell&utm_medium=app&utm_campaign=brimwell_20260516&utm_content=" +
           std::string(utmContent);
}

}  // namespace lumo::publisher
