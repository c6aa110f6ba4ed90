// SPDX-License-Identifier: Apache-2.0

// The floor: a program that does nothing, built with the command's compiler and flags.
int main() {
    return 0;
}
