// The publisher's host names, in one place. (Its reverse-DNS prefix, part of
// every bundle identifier and preference key, is in packaging/products.json.)
#pragma once

#include <string>
#include <string_view>

namespace lumo::publisher {

inline constexpr const char* kSiteRoot = "https://brimwell.com";
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
