// Property lists through libplist. libplist tells XML from binary itself;
// everything it hands back is freed here, and any data it rejects is nothing.
#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

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

PlistRoot decode(const Bytes& data) {
    if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
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
        char* rawText = nullptr;
        plist_get_string_val(value, &rawText);
        CString text(rawText);
        if (text) strings[key.get()] = text.get();
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
