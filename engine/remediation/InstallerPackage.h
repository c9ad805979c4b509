// The steps the installer package and the Homebrew runner's fallback share:
// where the package goes, downloading it there, and checking its SHA-256.
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
// any old file. Returns the SHA-256 of the bytes as they arrived. A status
// outside 200-299 fails with `httpError`.
Result<std::string> downloadInstallerPackage(const HTTPFetching& http, const FileSystemOperating& fs,
                                             const std::string& url, const std::string& packagePath,
                                             const CancelToken& cancel, const Error& httpError);

// 64 lower-case hexadecimal digits.
std::string sha256Hex(const Bytes& data);

// Fails with "PKGInstaller" 6 when the download's digest is not the expected
// one (lower case). This check only spares the password dialog for a broken
// download: root checks its own copy again before installing it.
Status checkInstallerDigest(const std::string& actual, const std::string& expected);

}  // namespace lumo
