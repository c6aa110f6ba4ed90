// Loads the project's Android.bp through Soong's real module types, the way Soong's own cc
// tests load theirs, and checks what a device build would make of it: every property known and
// well typed, every dependency resolved, one partition, and where the binary is installed.
//
// Run in GOPATH mode against Debian's Soong and Blueprint:
//
//	GO111MODULE=off GOPATH=/usr/share/gocode go test ./tools/soong -args -bp Android.bp
package soong

import (
	"flag"
	"io/ioutil"
	"os"
	"path/filepath"
	"regexp"
	"strings"
	"testing"

	"android/soong/android"
	"android/soong/cc"
)

var (
	bpPath    = flag.String("bp", "../../Android.bp", "the Android.bp to load")
	installed = flag.String("installed", "", "write the binary's install path here")
)

// The platform libraries the command links, as the platform declares them: available to the
// core and vendor images alike. Their contents do not matter here, only that they resolve.
const platformLibraries = `
cc_library {
    name: "libcutils",
    vendor_available: true,
    recovery_available: true,
}

cc_library {
    name: "liblog",
    vendor_available: true,
    recovery_available: true,
}

cc_library_headers {
    name: "libbase_headers",
    vendor_available: true,
    recovery_available: true,
}
`

const (
	moduleName = "zel_init_sku"
	variant    = "android_arm64_armv8-a"
)

var buildDir string

func TestMain(m *testing.M) {
	flag.Parse()
	var err error
	buildDir, err = ioutil.TempDir("", "sku_soong")
	if err != nil {
		panic(err)
	}
	status := m.Run()
	os.RemoveAll(buildDir)
	os.Exit(status)
}

// load parses bp as the only Android.bp of a source tree that holds the platform libraries
// too, and prepares the build actions. It returns the context and every error Soong reported.
func load(bp string) (*android.TestContext, []error) {
	config := cc.TestConfig(buildDir, android.Android, nil, bp+platformLibraries, nil)
	config.TestProductVariables.DeviceVndkVersion = stringPtr("current")
	config.TestProductVariables.Platform_vndk_version = stringPtr("VER")
	ctx := cc.CreateTestContext()
	ctx.Register(config)
	if _, errs := ctx.ParseFileList(".", []string{"Android.bp"}); len(errs) > 0 {
		return ctx, errs
	}
	_, errs := ctx.PrepareBuildActions(config)
	return ctx, errs
}

func stringPtr(s string) *string { return &s }

func readBp(t *testing.T) string {
	t.Helper()
	content, err := ioutil.ReadFile(*bpPath)
	if err != nil {
		t.Fatalf("cannot read %s: %v", *bpPath, err)
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

func TestAndroidBpLoads(t *testing.T) {
	ctx, errs := load(readBp(t))
	android.FailIfErrored(t, errs)

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
	good := readBp(t)
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
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			if !strings.Contains(good, c.old) {
				t.Fatalf("the Android.bp no longer holds %q", c.old)
			}
			_, errs := load(strings.Replace(good, c.old, c.new, 1))
			if len(errs) == 0 {
				t.Fatalf("Soong accepted the broken copy")
			}
			android.FailIfNoMatchingErrors(t, regexp.QuoteMeta(c.wantError), errs)
		})
	}
}
