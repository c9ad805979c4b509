// The publisher's host names and reverse-DNS prefix, in one place.
#pragma once

namespace lumo::publisher {

inline constexpr const char* kSiteRoot = "https://brimwell.example";
inline constexpr const char* kReverseDNSPrefix = "example.brimwell";
inline constexpr const char* kWarpSite = "https://www.warp.example";

}  // namespace lumo::publisher
