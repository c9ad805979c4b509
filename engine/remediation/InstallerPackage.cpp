#include "remediation/InstallerPackage.h"

#include <openssl/evp.h>

#include <array>
#include <memory>

#include "config/ProductConfig.h"

namespace lumo {

Result<std::string> installerPackagePath(const FileSystemOperating& fs, int major, const std::string& architecture) {
    auto caches = fs.cachesDirectory();
    if (!caches) return caches.error();
    const std::string directory = joinPath(*caches, ProductConfig::current().cacheDirName);
    if (auto status = fs.createDirectory(directory, true); !status) return status.error();
    return joinPath(directory, "temurin-" + std::to_string(major) + "-" + architecture + ".pkg");
}

Status downloadInstallerPackage(const HTTPFetching& http, const FileSystemOperating& fs, const std::string& url,
                                const std::string& packagePath, const CancelToken& cancel, const Error& httpError) {
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
    return {};
}

std::string sha256Hex(const Bytes& data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        return {};  // never matches an expected checksum
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
    }
    return text;
}

Status verifyInstallerPackage(const FileSystemOperating& fs, const std::string& packagePath,
                              const std::string& expected) {
    auto data = fs.readData(packagePath);
    if (!data) return data.error();
    const std::string actual = sha256Hex(*data);
    if (actual != expected) {
        return Error{"PKGInstaller", 6, "Checksum mismatch (expected " + expected + ", got " + actual + ")"};
    }
    return {};
}

}  // namespace lumo
