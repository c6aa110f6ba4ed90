// SPDX-License-Identifier: Apache-2.0

package soong

// What the platform tree declares and Debian's Soong (October 2020) lacks: the license module
// types that came with Soong's license metadata in 2021, and the platform libraries the project
// uses, as stub modules. Only what the checks need of them is here: their properties, and that
// every name they give resolves to a module of the right type.

import (
	"github.com/google/blueprint"
	"github.com/google/blueprint/proptools"

	"android/soong/android"
)

// The platform libraries the project uses, as the platform declares them: available to the core
// and vendor images alike. Their contents do not matter here, only that they resolve.
// license_kind modules are build/soong/licenses' own.
const platformModules = `
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

cc_library_headers {
    name: "libcutils_headers",
    vendor_available: true,
    recovery_available: true,
}

cc_library_headers {
    name: "liblog_headers",
    vendor_available: true,
    recovery_available: true,
}

license_kind {
    name: "SPDX-license-identifier-Apache-2.0",
    conditions: ["notice"],
    url: "https://spdx.org/licenses/Apache-2.0.html",
}
`

type dependencyTag struct {
	blueprint.BaseDependencyTag
	name string
}

var (
	licenseKindTag = dependencyTag{name: "license_kinds"}
	licenseTag     = dependencyTag{name: "default_applicable_licenses"}
)

// license_kind: a kind of license and the conditions it sets.
type licenseKind struct {
	android.ModuleBase
	properties struct {
		Conditions []string
		Url        string
	}
}

func licenseKindFactory() android.Module {
	module := &licenseKind{}
	module.AddProperties(&module.properties)
	android.InitAndroidModule(module)
	return module
}

func (*licenseKind) GenerateAndroidBuildActions(android.ModuleContext) {}

// license: the license of a package, its kinds and the files that hold its text.
type license struct {
	android.ModuleBase
	properties struct {
		License_kinds    []string
		Copyright_notice *string
		Package_name     *string
		License_text     []string `android:"path"`
	}
	text android.Paths
}

func licenseFactory() android.Module {
	module := &license{}
	module.AddProperties(&module.properties)
	android.InitAndroidModule(module)
	return module
}

func (l *license) DepsMutator(ctx android.BottomUpMutatorContext) {
	ctx.AddDependency(ctx.Module(), licenseKindTag, l.properties.License_kinds...)
}

func (l *license) GenerateAndroidBuildActions(ctx android.ModuleContext) {
	ctx.VisitDirectDepsWithTag(licenseKindTag, func(dep android.Module) {
		if _, ok := dep.(*licenseKind); !ok {
			ctx.PropertyErrorf("license_kinds", "%q is not a license_kind", ctx.OtherModuleName(dep))
		}
	})
	if len(l.properties.License_kinds) == 0 {
		ctx.PropertyErrorf("license_kinds", "a license needs its kinds")
	}
	l.text = android.PathsForModuleSrc(ctx, l.properties.License_text)
}

// package: what applies to every module of the folder; here, its default license.
type packageModule struct {
	android.ModuleBase
	properties struct {
		Default_visibility          []string
		Default_applicable_licenses []string
	}
}

func packageFactory() android.Module {
	module := &packageModule{}
	module.AddProperties(&module.properties)
	android.InitAndroidModule(module)
	// A package has no name of its own: it is named after its folder, as Soong names it.
	android.AddLoadHook(module, func(ctx android.LoadHookContext) {
		ctx.AppendProperties(&struct{ Name *string }{proptools.StringPtr("//" + ctx.ModuleDir())})
	})
	return module
}

func (p *packageModule) DepsMutator(ctx android.BottomUpMutatorContext) {
	ctx.AddDependency(ctx.Module(), licenseTag, p.properties.Default_applicable_licenses...)
}

func (p *packageModule) GenerateAndroidBuildActions(ctx android.ModuleContext) {
	ctx.VisitDirectDepsWithTag(licenseTag, func(dep android.Module) {
		if _, ok := dep.(*license); !ok {
			ctx.PropertyErrorf("default_applicable_licenses", "%q is not a license",
				ctx.OtherModuleName(dep))
		}
	})
}

func registerLicenseModuleTypes(ctx *android.TestContext) {
	ctx.RegisterModuleType("package", packageFactory)
	ctx.RegisterModuleType("license", licenseFactory)
	ctx.RegisterModuleType("license_kind", licenseKindFactory)
}
