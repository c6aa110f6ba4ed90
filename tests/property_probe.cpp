// SPDX-License-Identifier: Apache-2.0

// Drives the host property store from a test: "get NAME" prints the value read with default
// "null"; "set NAME VALUE" prints property_set's result.
#include <stdio.h>
#include <string.h>

#include <cutils/properties.h>

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "get") == 0) {
        char value[PROPERTY_VALUE_MAX];
        memset(value, 'x', sizeof(value));
        int length = property_get(argv[2], value, "null");
        printf("%d:%s", length, value);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "set") == 0) {
        printf("%d", property_set(argv[2], argv[3]));
        return 0;
    }
    fprintf(stderr, "usage: property_probe get NAME | set NAME VALUE\n");
    return 2;
}
