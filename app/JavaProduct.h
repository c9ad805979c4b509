// The shipped product: Lumora for Java.
#pragma once

#include "config/ProductConfig.h"

namespace lumo {

// Built once, on first use.
const ProductConfig& lumoraJava();

}  // namespace lumo
