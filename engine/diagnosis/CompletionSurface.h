// How the staged audit ends once Java is settled: on the completion screen
// with the build-intent prompt (in one of three wordings), or without it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumo {

// The wording and telemetry label of the build-intent prompt.
enum class BuildIntentSurface : std::uint8_t { postFix, modernHomeSet, noErrorsFound };

// "post_fix", "modern_home_set", "no_errors_found".
std::string rawValue(BuildIntentSurface surface);
std::optional<BuildIntentSurface> buildIntentSurfaceFromRawValue(const std::string& raw);

// prompt(postFix), prompt(modernHomeSet), prompt(noErrorsFound), excluded --
// in that order, one byte each, so the stored value is the enumerator.
enum class CompletionSurface : std::uint8_t {
    promptPostFix = 0,
    promptModernHomeSet = 1,
    promptNoErrorsFound = 2,
    excluded = 3,
};

constexpr CompletionSurface prompt(BuildIntentSurface surface) {
    return static_cast<CompletionSurface>(static_cast<std::uint8_t>(surface));
}

// The prompt's surface, or nothing for `excluded`.
constexpr std::optional<BuildIntentSurface> promptSurface(CompletionSurface completion) {
    if (completion == CompletionSurface::excluded) return std::nullopt;
    return static_cast<BuildIntentSurface>(static_cast<std::uint8_t>(completion));
}

// The value stored as `byte`, or nothing for a byte above 3.
constexpr std::optional<CompletionSurface> completionSurfaceFromByte(std::uint8_t byte) {
    if (byte > static_cast<std::uint8_t>(CompletionSurface::excluded)) return std::nullopt;
    return static_cast<CompletionSurface>(byte);
}

}  // namespace lumo
