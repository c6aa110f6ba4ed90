// SPDX-License-Identifier: Apache-2.0

// zel_init_sku: keeps the device's carrier SKU identifier.
//
//   zel_init_sku 0             publish the stored identifier as "ro.vendor.sku.skuid"
//   zel_init_sku 1 IDENTIFIER  store IDENTIFIER, unless one is already stored
//   zel_init_sku 2             remove the stored identifier
//
// It runs from init, so it always exits with status 0: a refusal or a failure shows only in
// the log, on standard output and in "sys.vendor.sku.step", and only when "sys.vendor.sku.debug"
// is "yes".
#include "command/arguments.h"
#include "diag/diag.h"
#include "store/sku_store.h"

namespace {

constexpr char FEATURE_KEY[] = "ro.vendor.sku.enable";
constexpr char RESET_ENABLE_KEY[] = "ro.vendor.sku.skuid.reset.enable";

void refuse(const char* message) {
    sku_report(ANDROID_LOG_ERROR, "%s", message);
}

}  // namespace

int main(int argc, char** argv) {
    sku_debug = is_switch_on(DEBUG_KEY);
    set_step("1");

    if (const char* refusal = option_refusal(argc, argv)) {
        refuse(refusal);
        return 0;
    }
    // Nothing is created on a device whose build has not enabled the feature.
    if (!is_switch_on(FEATURE_KEY)) {
        refuse("skuid feature not enable, return 0.\n");
        return 0;
    }
    if (!init_sku_skuid_dir()) {
        set_step("14");
        refuse("make sku dir: Error\n");
        return 0;
    }

    int option = parse_option(argv[1]);
    sku_report(ANDROID_LOG_ERROR, "Option type is: %d\n", option);

    if (option == OPTION_REMOVE) {
        if (is_switch_on(RESET_ENABLE_KEY)) {
            d_skuid_dir();
        } else {
            refuse("reset skuid not enable, return 0.\n");
        }
        return 0;
    }
    if (option == OPTION_STORE) {
        if (const char* refusal = identifier_refusal(argc, argv)) {
            refuse(refusal);
            return 0;
        }
        set_step("11");
        w_sku_id(argv[2]);
        return 0;
    }
    if (option == OPTION_PUBLISH) {
        sku_report_texts(ANDROID_LOG_ERROR, "read carrierid", "read carrierid ");
        set_step("7");
        init_skuid_prop();
    }
    return 0;
}
