#include "remediation/AdoptiumAPI.h"

#include <nlohmann/json.hpp>

#include <cctype>

namespace lumo {

namespace {

// NSCoderReadCorruptError, as the JSON decoder reports a body it cannot read.
constexpr int kCorruptDataCode = 4864;

bool isValidURL(const std::string& text) {
    const auto scheme = text.find("://");
    if (scheme == std::string::npos || scheme == 0) return false;
    for (std::size_t i = 0; i < scheme; ++i) {
        const char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    }
    if (scheme + 3 >= text.size()) return false;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == '"' || c == '<' || c == '>' || c == '\\') return false;
    }
    return true;
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

Error decodingError() {
    return Error{kCocoaErrorDomain, kCorruptDataCode,
                 "The data couldn\u2019t be read because it isn\u2019t in the correct format."};
}

}  // namespace

std::string urlErrorDescription(int code) {
    return "The operation couldn\u2019t be completed. (NSURLErrorDomain error " + std::to_string(code) + ".)";
}

AdoptiumAPI::AdoptiumAPI(std::shared_ptr<const HTTPFetching> http, std::string baseURL,
                         std::chrono::milliseconds requestTimeout)
    : m_http(std::move(http)), m_baseURL(std::move(baseURL)), m_requestTimeout(requestTimeout) {
    while (!m_baseURL.empty() && m_baseURL.back() == '/') m_baseURL.pop_back();
}

std::string AdoptiumAPI::requestURL(int major, const std::string& architecture) const {
    return m_baseURL + "/v3/assets/latest/" + std::to_string(major) + "/hotspot?architecture=" + architecture +
           "&image_type=jdk&os=mac";
}

Result<AdoptiumAPI::AssetMetadata> AdoptiumAPI::fetchLatestInstaller(int major, const std::string& architecture,
                                                                     const CancelToken& cancel) const {
    HTTPRequest request;
    request.url = requestURL(major, architecture);
    if (!isValidURL(request.url)) {
        return Error{kURLErrorDomain, url_error::kBadURL, urlErrorDescription(url_error::kBadURL)};
    }
    request.headers = {{"Accept", "application/json"}};
    request.timeout = m_requestTimeout;

    auto response = m_http->data(request, cancel);
    if (!response) return response.error();
    if (response->response.statusCode != 200) {
        return Error{kURLErrorDomain, url_error::kBadServerResponse,
                     urlErrorDescription(url_error::kBadServerResponse)};
    }

    // Decode the fields every asset must have, as a strict decoder would.
    const auto body = nlohmann::json::parse(response->body, nullptr, false);
    if (body.is_discarded() || !body.is_array()) return decodingError();
    for (const auto& asset : body) {
        if (!asset.is_object()) return decodingError();
        const auto* binary = member(asset, "binary");
        const auto* releaseName = member(asset, "release_name");
        if (!binary || !binary->is_object() || !releaseName || !releaseName->is_string()) return decodingError();
        if (const auto* installer = member(*binary, "installer"); installer && !installer->is_null()) {
            if (!installer->is_object()) return decodingError();
            for (const char* key : {"link", "checksum", "name"}) {
                const auto* field = member(*installer, key);
                if (!field || !field->is_string()) return decodingError();
            }
        }
    }

    const nlohmann::json* installer = nullptr;
    if (!body.empty()) {
        installer = member(body[0]["binary"], "installer");
        if (installer && installer->is_null()) installer = nullptr;
    }
    if (!installer) {
        return Error{kAdoptiumErrorDomain, 1,
                     "No installer asset for Java " + std::to_string(major) + " on " + architecture};
    }

    AssetMetadata metadata;
    metadata.downloadURL = (*installer)["link"].get<std::string>();
    if (!isValidURL(metadata.downloadURL)) {
        return Error{kAdoptiumErrorDomain, 2, "Invalid installer URL from Adoptium"};
    }
    metadata.checksum = (*installer)["checksum"].get<std::string>();
    for (auto& c : metadata.checksum) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (metadata.checksum.size() != 64) {
        return Error{
            kAdoptiumErrorDomain, 3,
            "Unexpected checksum format from Adoptium (" + std::to_string(metadata.checksum.size()) + " chars)"};
    }
    metadata.filename = (*installer)["name"].get<std::string>();
    metadata.releaseName = body[0]["release_name"].get<std::string>();
    return metadata;
}

}  // namespace lumo
