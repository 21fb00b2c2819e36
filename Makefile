# Entry points for developers and CI. Every target first installs what is missing.
.PHONY: deps run try test build asan tsan release package package-install-check clang fuzz bench report soak \
  wine windows-package windows-msi format format-check clean

FUZZ_SECONDS ?= 60
SOAK_CYCLES ?= 200
SOAK_TOOL ?= lsan
SOAK_CHAOS ?= 0
SOAK_PRODUCTION ?= 0
SOAK_SEED ?=
BAUD ?= 0
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
QUILLON_VERSION := $(shell sed -n 's/^project.Quillon VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WINDOWS_ZIP := build/quillon-$(QUILLON_VERSION)-windows-x64.zip
WINDOWS_MSI := build/quillon-$(QUILLON_VERSION)-x64.msi

deps:
	scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# The main job out of the box: flashes the sample image into a virtual target.
# Builds only the two programs the demo runs (not the tests or the benchmarks).
run: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target quillon-cli quillon-sim
	scripts/demo build/default $(BAUD)
	@echo "make run built build/default/bin/quillon-cli and quillon-sim and flashed the sample image"
	@echo "into a virtual target. Next: make try (the window on a virtual target), make test (all"
	@echo "programs and the test suite), quillon-cli --help (build/default/bin)."

# The window on a virtual target: builds the window and quillon-sim, starts the target and the
# window with its port, "Virtual Target" and the sample image selected. Closing the window (or
# Ctrl+C) ends the target. Needs a display.
try: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target quillon quillon-sim
	scripts/try build/default

# Builds everything with g++ (warnings are errors) and runs the whole test suite.
test: build
	ctest --preset default -j $(JOBS)

# The core and its tests with clang under AddressSanitizer + UndefinedBehaviorSanitizer.
asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The core and its tests with clang under ThreadSanitizer.
tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	# A case that fails runs once more: under this sanitizer a signal that the end-to-end cases
	# send to a program of the build (Ctrl+C as SIGTERM) has been seen, once in many runs, not
	# to reach its handler; a case that fails twice fails the run.
	ctest --preset tsan -j $(JOBS) --repeat until-pass:2

# Everything in a Release (-O3) build with g++, warnings as errors: what a packager builds.
release: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

# The Release build (build/release, installed under /usr) as build/package/quillon_VERSION_ARCH.deb
# and a .tar.gz of the same tree, then scripts/package-check runs the unpacked programs.
package: deps
	cmake --preset package
	cmake --build --preset package -j $(JOBS)
	rm -f build/package/quillon_*.deb build/package/quillon-*.tar.gz
	cpack --preset package
	scripts/package-check build/package

# Installs the package that `make package` made with apt (as root or through sudo), runs the
# installed quillon-cli and removes the package again.
package-install-check: deps
	scripts/package-install-check build/package

# Everything with clang (warnings are errors) and its tests.
clang: deps
	cmake --preset clang
	cmake --build --preset clang -j $(JOBS)
	ctest --preset clang -j $(JOBS)

# Runs every fuzz target for FUZZ_SECONDS in all; a crash or sanitizer report fails.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

# The Windows build (mingw-w64) and its tests under Wine on a virtual display: the suites, the
# window tests, quillon-cli.exe end to end against the Linux virtual target, the Windows zip
# unpacked in a fresh Wine prefix, and the MSI installed, upgraded and removed silently.
# Installs the cross compiler, Wine, zip and the MSI tools first.
wine:
	scripts/install-deps --wine
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target quillon-sim quillon-cli
	cmake --preset mingw
	cmake --build --preset mingw -j $(JOBS)
	scripts/windows-package build/mingw build
	scripts/windows-msi $(WINDOWS_ZIP) build
	scripts/wine-tests build/mingw build/default $(WINDOWS_ZIP)
	scripts/wine-msi-tests $(WINDOWS_MSI) $(WINDOWS_ZIP) build/mingw

# The Windows programs as build/quillon-VERSION-windows-x64.zip: quillon.exe, quillon-cli.exe,
# Targets\, the help PDF, the sample image and a README.txt; nothing to install, no DLLs.
windows-package:
	scripts/install-deps --wine
	cmake --preset mingw
	cmake --build --preset mingw -j $(JOBS) --target quillon quillon-cli
	scripts/windows-package build/mingw build

# The Windows Installer package build/quillon-VERSION-x64.msi from the zip's files (per machine,
# Start menu, "Open with", PATH); signed when QUILLON_SIGNING_CERT names a PKCS#12 certificate.
windows-msi: windows-package
	scripts/windows-msi $(WINDOWS_ZIP) build

bench: build
	bench/compare_hex.sh build/default

# Runs every benchmark and writes docs/PERFORMANCE.md.
report: build
	bench/run build/default

# SOAK_CYCLES Initialize + Start Download cycles in one process against the virtual target,
# under LeakSanitizer (SOAK_TOOL=valgrind: memcheck); not part of `make test`. SOAK_CHAOS=1:
# the chaos soak, a fresh target with random faults every cycle (SOAK_SEED=S replays a run).
# SOAK_PRODUCTION=1: the production chaos soak, quillon-cli production runs over faulty targets.
soak: deps
	scripts/soak --cycles $(SOAK_CYCLES) --tool $(SOAK_TOOL) $(if $(filter 1,$(SOAK_CHAOS)),--chaos) \
	  $(if $(filter 1,$(SOAK_PRODUCTION)),--production) $(if $(SOAK_SEED),--seed $(SOAK_SEED))

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build
