// The property-list reader (libplist underneath) on arbitrary bytes.
#include <cstdint>
#include <string>

#include "platform/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const lumo::Bytes bytes(reinterpret_cast<const char*>(data), size);
    (void)lumo::decodePropertyListStrings(bytes);
    (void)lumo::decodePropertyListStrings(bytes, "JavaVM");
    return 0;
}
