// SPDX-License-Identifier: Apache-2.0

package soong

// The sources CMakeLists.txt builds the command and the fuzzers from, for the device build to be
// compared with: the product's sources are listed in both files, and the two lists must not drift.

import (
	"fmt"
	"regexp"
	"sort"
	"strings"
)

type cmakeSources struct {
	product []string            // add_library(sku_product ...): the product code but main
	binary  []string            // the product, and add_executable(zel_init_sku ...)
	fuzzers map[string][]string // by target name ("reader_fuzzer"): its sources, product included
}

var cmakeComment = regexp.MustCompile(`#[^\n]*`)

// cmakeArguments gives the words of the first `command(FIRST ...)` in text, FIRST left out.
func cmakeArguments(text, command, first string) ([]string, error) {
	call := regexp.MustCompile(command + `\(\s*` + regexp.QuoteMeta(first) + `\s+([^)]*)\)`)
	found := call.FindStringSubmatch(text)
	if found == nil {
		return nil, fmt.Errorf("CMakeLists.txt has no %s(%s ...)", command, first)
	}
	return strings.Fields(found[1]), nil
}

func readCMakeSources(text string) (*cmakeSources, error) {
	text = cmakeComment.ReplaceAllString(text, "")
	var sources cmakeSources
	words, err := cmakeArguments(text, "add_library", "sku_product")
	if err != nil {
		return nil, err
	}
	for _, word := range words {
		if word != "STATIC" && word != "OBJECT" {
			sources.product = append(sources.product, word)
		}
	}
	main, err := cmakeArguments(text, "add_executable", "zel_init_sku")
	if err != nil {
		return nil, err
	}
	sources.binary = append(append([]string{}, sources.product...), main...)

	// foreach(fuzzer NAME...) add_executable(${fuzzer}_fuzzer SOURCE...), each linked with the
	// product.
	names, err := cmakeArguments(text, "foreach", "fuzzer")
	if err != nil {
		return nil, err
	}
	template, err := cmakeArguments(text, "add_executable", "${fuzzer}_fuzzer")
	if err != nil {
		return nil, err
	}
	links, err := cmakeArguments(text, "target_link_libraries", "${fuzzer}_fuzzer")
	if err != nil {
		return nil, err
	}
	sources.fuzzers = map[string][]string{}
	for _, name := range names {
		var fuzzer []string
		for _, word := range template {
			fuzzer = append(fuzzer, strings.ReplaceAll(word, "${fuzzer}", name))
		}
		for _, library := range links {
			if library == "sku_product" {
				fuzzer = append(fuzzer, sources.product...)
			}
		}
		sources.fuzzers[name+"_fuzzer"] = fuzzer
	}
	return &sources, nil
}

// minus is what `a` holds and `b` does not, sorted.
func minus(a, b []string) []string {
	in := map[string]bool{}
	for _, s := range b {
		in[s] = true
	}
	var only []string
	for _, s := range a {
		if !in[s] {
			only = append(only, s)
		}
	}
	sort.Strings(only)
	return only
}

// compareSources names what is in one list only.
func compareSources(module string, bp, cmake []string) []string {
	var problems []string
	if only := minus(bp, cmake); len(only) > 0 {
		problems = append(problems, fmt.Sprintf("%s: in Android.bp only: %s", module,
			strings.Join(only, " ")))
	}
	if only := minus(cmake, bp); len(only) > 0 {
		problems = append(problems, fmt.Sprintf("%s: in CMakeLists.txt only: %s", module,
			strings.Join(only, " ")))
	}
	return problems
}
