// SPDX-License-Identifier: Apache-2.0

// Loads the project's Android.bp through Soong's real module types, the way Soong's own cc
// tests load theirs, and checks what a device build would make of it: every property known and
// well typed, every dependency resolved, one partition, where the binary is installed; the
// fuzzers as the platform's fuzzing infrastructure builds them; the package's license; and that
// the device build compiles exactly the sources CMakeLists.txt builds.
//
// Run in GOPATH mode against Debian's Soong and Blueprint, from the repository's folder (-bp takes
// another Android.bp, with the CMakeLists.txt beside it; a relative path is taken from
// tools/soong, where go test runs):
//
//	GO111MODULE=off GOPATH=/usr/share/gocode go test ./tools/soong
package soong

import (
	"flag"
	"fmt"
	"io/ioutil"
	"os"
	"path/filepath"
	"regexp"
	"sort"
	"strings"
	"testing"

	"github.com/google/blueprint"

	"android/soong/android"
	"android/soong/cc"
)

var (
	bpPath    = flag.String("bp", "../../Android.bp", "the Android.bp to load")
	cmakePath = flag.String("cmake", "", "the CMakeLists.txt it must agree with (default: beside it)")
	installed = flag.String("installed", "", "write the binary's install path here")
)

const (
	moduleName    = "zel_init_sku"
	variant       = "android_arm64_armv8-a"
	fuzzerVariant = "android_arm64_armv8-a_fuzzer"
	fuzzerPrefix  = "zel_init_sku_" // a fuzzer's module: the prefix and CMake's target name
	stub          = "tests/fuzz/platform_stub.cpp"
)

var buildDir string

func TestMain(m *testing.M) {
	flag.Parse()
	if *cmakePath == "" {
		*cmakePath = filepath.Join(filepath.Dir(*bpPath), "CMakeLists.txt")
	}
	var err error
	buildDir, err = ioutil.TempDir("", "sku_soong")
	if err != nil {
		panic(err)
	}
	status := m.Run()
	os.RemoveAll(buildDir)
	os.Exit(status)
}

// checkout is the folder of the Android.bp: its files are the source tree Soong sees.
func checkout() string { return filepath.Dir(*bpPath) }

// checkoutFiles holds the checkout's regular files, for paths and globs (a fuzzer's corpus, the
// license's text) to resolve as in a platform tree; the Android.bp comes from the test itself.
// What git ignores is left out: build output, and the sandboxed devices (which may hold FIFOs).
func checkoutFiles(t *testing.T) map[string][]byte {
	t.Helper()
	files := map[string][]byte{}
	err := filepath.Walk(checkout(), func(path string, info os.FileInfo, err error) error {
		if err != nil {
			return err
		}
		name := info.Name()
		if info.IsDir() && path != checkout() &&
			(strings.HasPrefix(name, ".") || name == "build" || name == "dev" || name == "device") {
			return filepath.SkipDir
		}
		if !info.Mode().IsRegular() || name == "Android.bp" || name == "Blueprints" {
			return nil
		}
		relative, _ := filepath.Rel(checkout(), path)
		content, err := ioutil.ReadFile(path)
		files[relative] = content
		return err
	})
	if err != nil {
		t.Fatal(err)
	}
	return files
}

// load parses bp as the only Android.bp of a source tree that holds the checkout's files and the
// platform's modules, and prepares the build actions. It returns the context and every error
// Soong reported.
func load(t *testing.T, bp string) (*android.TestContext, []error) {
	t.Helper()
	config := cc.TestConfig(buildDir, android.Android, nil, bp+platformModules, checkoutFiles(t))
	config.TestProductVariables.DeviceVndkVersion = stringPtr("current")
	config.TestProductVariables.Platform_vndk_version = stringPtr("VER")
	ctx := cc.CreateTestContext()
	registerLicenseModuleTypes(ctx)
	ctx.Register(config)
	if _, errs := ctx.ParseFileList(".", []string{"Android.bp"}); len(errs) > 0 {
		return ctx, errs
	}
	_, errs := ctx.PrepareBuildActions(config)
	return ctx, errs
}

func stringPtr(s string) *string { return &s }

func readFile(t *testing.T, path string) string {
	t.Helper()
	content, err := ioutil.ReadFile(path)
	if err != nil {
		t.Fatalf("cannot read %s: %v", path, err)
	}
	return string(content)
}

// installPath is where the build installs the binary, relative to the product's output
// folder: "system_ext/bin/zel_init_sku".
func installPath(t *testing.T, ctx *android.TestContext) string {
	t.Helper()
	marker := "/target/product/test_device/"
	for _, output := range ctx.ModuleForTests(moduleName, variant).AllOutputs() {
		if i := strings.Index(output, marker); i >= 0 {
			return output[i+len(marker):]
		}
	}
	t.Fatalf("%s has no install rule", moduleName)
	return ""
}

// modulesOfType finds the modules of one type, by name, each in its first variant.
func modulesOfType(ctx *android.TestContext, moduleType string) map[string]android.Module {
	found := map[string]android.Module{}
	ctx.VisitAllModules(func(m blueprint.Module) {
		if _, seen := found[ctx.ModuleName(m)]; !seen && ctx.ModuleType(m) == moduleType {
			found[ctx.ModuleName(m)] = m.(android.Module)
		}
	})
	return found
}

// inputs are the files that the module's rules whose name ends in `rule` read: what it compiles
// ("cc.cc"), the seeds it copies into its corpus ("copy_corpus").
func inputs(module android.Module, rule string) []string {
	var found []string
	for _, params := range module.BuildParamsForTests() {
		if params.Rule == nil || !strings.HasSuffix(params.Rule.String(), rule) {
			continue
		}
		paths := append(android.Paths{params.Input}, params.Inputs...)
		for _, input := range append(paths, params.Implicits...) {
			if input != nil {
				found = append(found, input.String())
			}
		}
	}
	sort.Strings(found)
	return found
}

func dependencies(ctx *android.TestContext, module android.Module) map[string]bool {
	names := map[string]bool{}
	ctx.VisitDirectDeps(module, func(dep blueprint.Module) { names[ctx.ModuleName(dep)] = true })
	return names
}

// missingFiles names the paths that are not in the checkout.
func missingFiles(paths []string) []string {
	var problems []string
	for _, path := range paths {
		if _, err := os.Stat(filepath.Join(checkout(), path)); err != nil {
			problems = append(problems, fmt.Sprintf("%s: no such file in the checkout", path))
		}
	}
	return problems
}

// checkBinary: the command compiles CMake's product sources and main, and links the platform's
// libraries.
func checkBinary(ctx *android.TestContext, cmake *cmakeSources) []string {
	binary := ctx.ModuleForTests(moduleName, variant).Module()
	sources := inputs(binary, "cc.cc")
	problems := compareSources(moduleName, sources, cmake.binary)
	problems = append(problems, missingFiles(sources)...)
	deps := dependencies(ctx, binary)
	for _, library := range []string{"libcutils", "liblog", "libbase_headers"} {
		if !deps[library] {
			problems = append(problems, fmt.Sprintf("%s does not use %s", moduleName, library))
		}
	}
	return problems
}

// checkFuzzers: a cc_fuzz module for each fuzzer CMake builds, compiling what CMake compiles for
// it, with the stub in place of the platform's libcutils and liblog (their headers only), and
// its seed corpus.
func checkFuzzers(ctx *android.TestContext, cmake *cmakeSources) []string {
	var problems []string
	fuzzers := modulesOfType(ctx, "cc_fuzz")
	for target, cmakeSources := range cmake.fuzzers {
		name := fuzzerPrefix + target
		if _, ok := fuzzers[name]; !ok {
			problems = append(problems, fmt.Sprintf("no cc_fuzz %s for CMake's %s", name, target))
			continue
		}
		delete(fuzzers, name)
		fuzzer := ctx.ModuleForTests(name, fuzzerVariant).Module()
		sources := inputs(fuzzer, "cc.cc")
		problems = append(problems, compareSources(name, sources, cmakeSources)...)
		problems = append(problems, missingFiles(sources)...)
		deps := dependencies(ctx, fuzzer)
		for _, library := range []string{"libcutils", "liblog"} {
			if deps[library] {
				problems = append(problems, fmt.Sprintf("%s links %s: the platform's services, "+
					"where %s stands in for them", name, library, stub))
			}
		}
		for _, headers := range []string{"libcutils_headers", "liblog_headers", "libbase_headers"} {
			if !deps[headers] {
				problems = append(problems, fmt.Sprintf("%s does not use %s", name, headers))
			}
		}
		seeds, _ := filepath.Glob(filepath.Join(checkout(), "tests/fuzz/corpus",
			strings.TrimSuffix(target, "_fuzzer"), "*"))
		corpus := inputs(fuzzer, "copy_corpus")
		for i, seed := range seeds {
			seeds[i], _ = filepath.Rel(checkout(), seed)
		}
		if len(corpus) == 0 || len(minus(seeds, corpus)) > 0 || len(minus(corpus, seeds)) > 0 {
			problems = append(problems, fmt.Sprintf("%s's corpus is %v, its seeds %v", name,
				corpus, seeds))
		}
	}
	for name := range fuzzers {
		problems = append(problems, fmt.Sprintf("cc_fuzz %s: CMake builds no such fuzzer", name))
	}
	return problems
}

// checkLicense: the package's default license is declared, of a kind the platform declares
// (the module types see to that), and its text is in the checkout.
func checkLicense(ctx *android.TestContext) []string {
	var problems []string
	pkg, ok := modulesOfType(ctx, "package")["//."].(*packageModule)
	if !ok || len(pkg.properties.Default_applicable_licenses) == 0 {
		problems = append(problems, "no package with default_applicable_licenses")
	}
	licenses := modulesOfType(ctx, "license")
	if len(licenses) == 0 {
		problems = append(problems, "no license module")
	}
	for name, module := range licenses {
		text := module.(*license).text
		if len(text) == 0 {
			problems = append(problems, fmt.Sprintf("license %s has no license_text", name))
		}
		problems = append(problems, missingFiles(text.Strings())...)
	}
	return problems
}

// check loads bp and runs every check on it, against the CMake sources.
func check(t *testing.T, bp, cmakeText string) (*android.TestContext, []string) {
	t.Helper()
	ctx, errs := load(t, bp)
	android.FailIfErrored(t, errs)
	cmake, err := readCMakeSources(cmakeText)
	if err != nil {
		t.Fatal(err)
	}
	problems := checkBinary(ctx, cmake)
	problems = append(problems, checkFuzzers(ctx, cmake)...)
	return ctx, append(problems, checkLicense(ctx)...)
}

func TestAndroidBpLoads(t *testing.T) {
	ctx, problems := check(t, readFile(t, *bpPath), readFile(t, *cmakePath))
	for _, problem := range problems {
		t.Error(problem)
	}

	path := installPath(t, ctx)
	if path != "system_ext/bin/zel_init_sku" {
		t.Errorf("installed at %s, want system_ext/bin/zel_init_sku", path)
	}
	module := ctx.ModuleForTests(moduleName, variant).Module().(*cc.Module)
	if !module.SystemExtSpecific() || module.SocSpecific() || module.ProductSpecific() {
		t.Errorf("%s is not a system_ext module", moduleName)
	}
	rc := module.InitRc()
	if len(rc) != 1 || filepath.Base(rc[0].String()) != "zel_init_sku.rc" {
		t.Errorf("init_rc is %v, want zel_init_sku.rc", rc)
	}
	t.Logf("install partition: %s (/%s)", strings.SplitN(path, "/", 2)[0], path)
	if *installed != "" {
		if err := ioutil.WriteFile(*installed, []byte("/"+path+"\n"), 0644); err != nil {
			t.Fatal(err)
		}
	}
}

// Broken copies of the Android.bp must fail to load: the checks above are only worth having if
// Soong really refuses what a device build would refuse.
func TestBrokenCopiesFail(t *testing.T) {
	good := readFile(t, *bpPath)
	cases := []struct {
		name, old, new, wantError string
	}{
		{"unknown property", "local_include_dirs:", "local_include_dir:",
			`unrecognized property "local_include_dir"`},
		{"wrong value", `stl: "libc++_static"`, `stl: "libc++_statc"`, `stl: "libc++_statc"`},
		{"value of the wrong type", `system_ext_specific: true`, `system_ext_specific: "yes"`,
			`can't assign string value to bool property`},
		{"missing dependency", `"liblog",`, `"liblog", "libsku_missing",`,
			`depends on undefined module "libsku_missing"`},
		{"partition clash", `system_ext_specific: true,`, "system_ext_specific: true,\n    vendor: true,",
			`cannot be specific to SoC or device and system_ext`},
		{"license kind the platform does not declare", `"SPDX-license-identifier-Apache-2.0"`,
			`"SPDX-license-identifier-Apache"`,
			`depends on undefined module "SPDX-license-identifier-Apache"`},
		{"default license not declared", `default_applicable_licenses: ["zel_init_sku_license"]`,
			`default_applicable_licenses: ["zel_init_sku_licence"]`,
			`depends on undefined module "zel_init_sku_licence"`},
		{"default license that is no license", `default_applicable_licenses: ["zel_init_sku_license"]`,
			`default_applicable_licenses: ["zel_init_sku_defaults"]`,
			`"zel_init_sku_defaults" is not a license`},
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			if !strings.Contains(good, c.old) {
				t.Fatalf("the Android.bp no longer holds %q", c.old)
			}
			_, errs := load(t, strings.Replace(good, c.old, c.new, 1))
			if len(errs) == 0 {
				t.Fatalf("Soong accepted the broken copy")
			}
			android.FailIfNoMatchingErrors(t, regexp.QuoteMeta(c.wantError), errs)
		})
	}
}

// Copies that Soong loads but that drift from CMake or lose a fuzzer's stub, its corpus or the
// license's text must fail the checks.
func TestDriftIsFound(t *testing.T) {
	goodBp, goodCMake := readFile(t, *bpPath), readFile(t, *cmakePath)
	cases := []struct {
		name, file, old, new, wantProblem string
	}{
		{"a source in Android.bp only", "Android.bp", `"store/writer.cpp",`,
			`"store/writer.cpp", "store/extra.cpp",`,
			"zel_init_sku: in Android.bp only: store/extra.cpp"},
		{"a source in CMakeLists.txt only", "CMakeLists.txt", "store/writer.cpp\n",
			"store/writer.cpp\n    store/extra.cpp\n",
			"zel_init_sku: in CMakeLists.txt only: store/extra.cpp"},
		{"a fuzzer without its stub", "Android.bp", `"tests/fuzz/platform_stub.cpp",`, "",
			"in CMakeLists.txt only: tests/fuzz/platform_stub.cpp"},
		{"a fuzzer linking the platform's services", "Android.bp",
			`corpus: ["tests/fuzz/corpus/reader/*"],`,
			`corpus: ["tests/fuzz/corpus/reader/*"], shared_libs: ["liblog"],`,
			"zel_init_sku_reader_fuzzer links liblog"},
		{"a fuzzer CMake builds and Android.bp does not", "CMakeLists.txt",
			"foreach(fuzzer reader command_line)", "foreach(fuzzer reader command_line publish)",
			"no cc_fuzz zel_init_sku_publish_fuzzer"},
		{"a fuzzer without its corpus", "Android.bp", `corpus: ["tests/fuzz/corpus/reader/*"],`,
			"", "zel_init_sku_reader_fuzzer's corpus is []"},
		{"a license text not in the checkout", "Android.bp", `license_text: ["LICENSE"]`,
			`license_text: ["LICENCE"]`, "LICENCE: no such file in the checkout"},
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			bp, cmake := goodBp, goodCMake
			text := map[string]*string{"Android.bp": &bp, "CMakeLists.txt": &cmake}[c.file]
			if !strings.Contains(*text, c.old) {
				t.Fatalf("%s no longer holds %q", c.file, c.old)
			}
			*text = strings.Replace(*text, c.old, c.new, 1)
			_, problems := check(t, bp, cmake)
			for _, problem := range problems {
				if strings.Contains(problem, c.wantProblem) {
					return
				}
			}
			t.Errorf("no problem found like %q; found %q", c.wantProblem, problems)
		})
	}
}
