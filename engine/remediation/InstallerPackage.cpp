#include "remediation/InstallerPackage.h"

#include "config/ProductConfig.h"

namespace lumo {

Result<std::string> installerPackagePath(const FileSystemOperating& fs, int major, const std::string& architecture) {
    auto caches = fs.cachesDirectory();
    if (!caches) return caches.error();
    const std::string directory = joinPath(*caches, ProductConfig::current().cacheDirName);
    if (auto status = fs.createDirectory(directory, true); !status) return status.error();
    return joinPath(directory, "temurin-" + std::to_string(major) + "-" + architecture + ".pkg");
}

Result<std::string> downloadInstallerPackage(const HTTPFetching& http, const FileSystemOperating& fs,
                                             const std::string& url, const std::string& packagePath,
                                             const CancelToken& cancel, const Error& httpError) {
    DownloadOptions options;
    options.cancel = cancel;
    auto download = http.download(url, options);
    if (!download) return download.error();
    const int status = download->response.statusCode;
    if (status < 200 || status > 299) {
        (void)fs.removeItem(download->location);
        return httpError;
    }
    if (auto moved = fs.moveItem(download->location, packagePath); !moved) {
        (void)fs.removeItem(download->location);
        return moved.error();
    }
    return std::move(download->sha256);
}

std::string sha256Hex(const Bytes& data) {
    SHA256 hash;
    hash.update(data);
    return hash.hexDigest();
}

Status checkInstallerDigest(const std::string& actual, const std::string& expected) {
    if (actual.empty() || actual != expected) {
        return Error{"PKGInstaller", 6, "Checksum mismatch (expected " + expected + ", got " + actual + ")"};
    }
    return {};
}

}  // namespace lumo
