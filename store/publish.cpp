// SPDX-License-Identifier: Apache-2.0

// Publication: the stored identifier becomes the property "ro.vendor.sku.skuid".
#include <stdlib.h>

#include <cutils/properties.h>

#include "diag/diag.h"
#include "store/sku_store.h"

bool init_skuid_prop() {
    char* value = static_cast<char*>(calloc(1, PROPERTY_VALUE_MAX));
    if (value == nullptr) {
        if (sku_debug) sku_print_line("malloc error return ");
        return false;
    }
    bool result = g_sku_id(value);
    // The value is published exactly as read, a trailing line feed included. Nothing stored,
    // or an empty file, publishes nothing.
    if (value[0] != '\0') property_set(SKUID_KEY, value);
    free(value);
    return result;
}
