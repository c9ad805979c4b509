// The steps the installer package and the Homebrew runner's fallback share:
// where the package goes, downloading it there, and its SHA-256 digest.
#pragma once

#include <string>

#include "platform/CancelToken.h"
#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/Result.h"

namespace lumo {

// The caches directory's product folder (created with its parents) joined
// with "temurin-<major>-<architecture>.pkg".
Result<std::string> installerPackagePath(const FileSystemOperating& fs, int major, const std::string& architecture);

// Downloads `url` to `packagePath`, replacing nothing: the caller has removed
// any old file. A status outside 200-299 fails with `httpError`.
Status downloadInstallerPackage(const HTTPFetching& http, const FileSystemOperating& fs, const std::string& url,
                                const std::string& packagePath, const CancelToken& cancel, const Error& httpError);

// 64 lower-case hexadecimal digits.
std::string sha256Hex(const Bytes& data);

// Checks the file against `expected` (lower case); fails with "PKGInstaller" 6
// on a mismatch, or with the read error.
Status verifyInstallerPackage(const FileSystemOperating& fs, const std::string& packagePath,
                              const std::string& expected);

}  // namespace lumo
