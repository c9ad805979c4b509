#include "platform/HTTPFetching.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace lumo {

std::optional<std::string> HTTPResponse::header(const std::string& name) const {
    const auto equalIgnoringCase = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (const auto& [key, value] : headers) {
        if (equalIgnoringCase(key, name)) return value;
    }
    return std::nullopt;
}

struct SHA256::State {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    bool failed = false;

    void start() { failed = !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1; }
};

SHA256::SHA256() : m_state(std::make_unique<State>()) { m_state->start(); }

SHA256::~SHA256() = default;

void SHA256::update(std::string_view bytes) {
    if (m_state->failed || bytes.empty()) return;
    m_state->failed = EVP_DigestUpdate(m_state->context.get(), bytes.data(), bytes.size()) != 1;
}

std::string SHA256::hexDigest() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    const bool failed = m_state->failed || EVP_DigestFinal_ex(m_state->context.get(), digest.data(), &length) != 1;
    m_state->start();
    // An empty digest never equals an expected checksum.
    if (failed) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
    }
    return text;
}

}  // namespace lumo
