// Arbitrary bytes as the identifier file's content, read with the debug switch on.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cutils/properties.h>

#include "diag/diag.h"
#include "store/sku_store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sku_debug = true;
    // The reports are printed; keep them off the fuzzer's console.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (stream == nullptr) return 0;  // fmemopen refuses an empty buffer
    // The value is read into a buffer of exactly a property value's size, so that AddressSanitizer
    // sees any write past it.
    char* out = static_cast<char*>(calloc(1, PROPERTY_VALUE_MAX));
    read_skuid_stream(stream, out);
    fclose(stream);
    if (strnlen(out, PROPERTY_VALUE_MAX) >= PROPERTY_VALUE_MAX) abort();
    free(out);
    return 0;
}
