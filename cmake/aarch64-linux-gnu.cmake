# SPDX-License-Identifier: Apache-2.0
# Cross-compiles for the target's architecture (AArch64) with Debian's cross toolchain, against
# Debian's arm64 packages installed beside the host's (multiarch: android-liblog-dev:arm64,
# libgtest-dev:arm64). What is built runs under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
