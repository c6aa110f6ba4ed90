#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# What a device maker would otherwise write for the every-boot job: read the identifier file
# and set the property. On a device the last line would be: setprop ro.vendor.sku.skuid "$id".
# On a host the property store is a folder, so setting a property is writing its file.
id=$(cat /data/misc/sku/skuid/skuid.prop 2>/dev/null) || exit 0
[ -n "$id" ] && printf '%s' "$id" > /dev/__properties__/ro.vendor.sku.skuid
exit 0
