// The preference keys of the product, each the product's userDefaultsPrefix
// followed by a dotted suffix.
#pragma once

#include <string>

#include "config/ProductConfig.h"

namespace lumo::preference_keys {

inline std::string consented(const ProductConfig& product) { return product.userDefaultsPrefix + ".consented"; }
inline std::string npsSubmitted(const ProductConfig& product) { return product.userDefaultsPrefix + ".nps_submitted"; }

}  // namespace lumo::preference_keys
