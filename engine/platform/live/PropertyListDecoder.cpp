// Property lists through libplist. libplist tells XML from binary itself;
// everything it hands back is freed here, and any data it rejects is nothing.
#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>

#include "platform/PropertyList.h"

namespace lumo {

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistRoot = std::unique_ptr<void, PlistFree>;

struct CFree {
    void operator()(void* memory) const { std::free(memory); }  // NOLINT(cppcoreguidelines-no-malloc)
};
using CString = std::unique_ptr<char, CFree>;

// Big-endian unsigned integer of `size` bytes at `at`; nothing when out of bounds.
std::optional<std::uint64_t> bigEndian(const Bytes& data, std::uint64_t at, std::uint64_t size) {
    if (size == 0 || size > 8 || at > data.size() || size > data.size() - at) return std::nullopt;
    std::uint64_t value = 0;
    for (std::uint64_t index = 0; index < size; ++index)
        value = (value << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(at + index)]);
    return value;
}

// libplist aborts (an assertion) when it hands back a dictionary key with a
// NUL character inside, which only a binary property list can carry. So a
// binary list is walked first: every string object must lie inside the data
// and hold no NUL; anything inconsistent makes the whole list corrupt.
bool binaryStringsAreSafe(const Bytes& data) {
    constexpr std::uint64_t kHeader = 8;
    constexpr std::uint64_t kTrailer = 32;
    if (data.size() < kHeader + kTrailer) return false;
    const std::uint64_t trailer = data.size() - kTrailer;
    const auto offsetSize = bigEndian(data, trailer + 6, 1);
    const auto objectCount = bigEndian(data, trailer + 8, 8);
    const auto tableOffset = bigEndian(data, trailer + 24, 8);
    if (!offsetSize || !objectCount || !tableOffset || *offsetSize == 0 || *offsetSize > 8) return false;
    if (*tableOffset > trailer || *objectCount > (trailer - *tableOffset) / *offsetSize) return false;
    for (std::uint64_t index = 0; index < *objectCount; ++index) {
        const auto offset = bigEndian(data, *tableOffset + index * *offsetSize, *offsetSize);
        if (!offset || *offset < kHeader || *offset >= trailer) return false;
        const auto marker = static_cast<unsigned char>(data[static_cast<std::size_t>(*offset)]);
        const unsigned type = marker >> 4;
        if (type != 0x5 && type != 0x6) continue;  // 0x5: ASCII string, 0x6: UTF-16 string
        std::uint64_t length = marker & 0x0F;
        std::uint64_t start = *offset + 1;
        if (length == 0x0F) {  // the length follows as an integer object
            const auto lengthMarker = bigEndian(data, start, 1);
            if (!lengthMarker || (*lengthMarker >> 4) != 0x1 || (*lengthMarker & 0x0F) > 3) return false;
            const std::uint64_t lengthSize = std::uint64_t{1} << (*lengthMarker & 0x0F);
            const auto extended = bigEndian(data, start + 1, lengthSize);
            if (!extended) return false;
            length = *extended;
            start += 1 + lengthSize;
        }
        const std::uint64_t unit = type == 0x6 ? 2 : 1;
        if (start > trailer || length > (trailer - start) / unit) return false;
        for (std::uint64_t at = start; at < start + length * unit; at += unit) {
            bool nul = data[static_cast<std::size_t>(at)] == 0;
            if (unit == 2) nul = nul && data[static_cast<std::size_t>(at + 1)] == 0;
            if (nul) return false;
        }
    }
    return true;
}

PlistRoot decode(const Bytes& data) {
    if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    if (plist_is_binary(data.data(), static_cast<std::uint32_t>(data.size())) && !binaryStringsAreSafe(data))
        return nullptr;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &root);
    return PlistRoot(root);
}

std::map<std::string, std::string> stringsOf(plist_t dictionary) {
    std::map<std::string, std::string> strings;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(dictionary, &iterator);
    if (!iterator) return strings;
    for (;;) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dictionary, iterator, &rawKey, &value);
        CString key(rawKey);
        if (!value) break;
        if (!key || plist_get_node_type(value) != PLIST_STRING) continue;
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(value, &length);
        if (text) strings[key.get()] = std::string(text, static_cast<std::size_t>(length));
    }
    std::free(iterator);  // NOLINT(cppcoreguidelines-no-malloc)
    return strings;
}

}  // namespace

std::optional<std::map<std::string, std::string>> decodePropertyListStrings(const Bytes& data) {
    const PlistRoot root = decode(data);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
    return stringsOf(root.get());
}

std::optional<std::map<std::string, std::string>> decodePropertyListStrings(const Bytes& data, const std::string& key) {
    const PlistRoot root = decode(data);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
    plist_t nested = plist_dict_get_item(root.get(), key.c_str());
    if (!nested || plist_get_node_type(nested) != PLIST_DICT) return std::nullopt;
    return stringsOf(nested);
}

}  // namespace lumo
