# The README's commands. Everything installs what it needs first.
BUILD ?= build
JOBS  ?= 2
CMAKE_FLAGS ?=

.PHONY: build build-tests run check check-asan check-tsan check-arm64 check-clean-root demo bench fuzz soak package clean

# Configuring needs only what was installed just before: the driver alone
# needs the build group; tests and the demo runner the test group as well.
# Every build compiles through ccache (its own group).
build:
	scripts/install-deps.sh build ccache
	cmake -S . -B $(BUILD) -DZQ_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

build-tests:
	scripts/install-deps.sh build test ccache
	cmake -S . -B $(BUILD) -DZQ_BUILD_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	scripts/run-driver.sh $(BUILD)/bin/ZQSignDriver

# Sanitized builds (SANITIZED=1) run through scripts/ctest-sanitized.sh.
check: build-tests
	scripts/install-deps.sh browser
	if [ "$(SANITIZED)" = 1 ]; then JOBS=$(JOBS) scripts/ctest-sanitized.sh $(BUILD); \
	else ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS); fi

# One complete signing on the virtual pad through the sample page; the files
# land in demo-output/ (or DEMO_OUTPUT).
DEMO_OUTPUT ?= demo-output
demo: build-tests
	scripts/install-deps.sh browser
	scripts/demo.sh $(DEMO_OUTPUT)

# The driver on the virtual pad under load, measured from a page: one table.
bench: build-tests
	scripts/install-deps.sh bench
	ZQ_BIN_DIR=$(CURDIR)/$(BUILD)/bin ZQ_LIB_DIR=$(CURDIR)/$(BUILD)/lib \
	    tests/support/run-isolated.sh -- $(BUILD)/bin/zqbench

# AddressSanitizer together with UndefinedBehaviorSanitizer, and
# ThreadSanitizer: builds of the tests alone, without the bench and the demo runner.
check-asan:
	$(MAKE) check BUILD=build-asan CMAKE_FLAGS="-DZQ_SANITIZE=address -DZQ_BUILD_TOOLS=OFF" SANITIZED=1

check-tsan:
	$(MAKE) check BUILD=build-tsan CMAKE_FLAGS="-DZQ_SANITIZE=thread -DZQ_BUILD_TOOLS=OFF" SANITIZED=1

# Cross-built for aarch64, in-process tests under qemu-user (scripts/check-arm64.sh).
check-arm64:
	scripts/install-deps.sh arm64 ccache
	JOBS=$(JOBS) scripts/check-arm64.sh build-arm64

# A fresh Debian 12 machine, proved in clean roots: the build with only the
# install lists' packages, the in-process tests, and the packages installed
# (scripts/check-clean-root.sh; as root, after check and check-arm64).
check-clean-root:
	JOBS=$(JOBS) scripts/check-clean-root.sh

# Every libFuzzer target on its seed corpus for FUZZ_SECONDS each (clang,
# ASan, UBSan); any crash, leak or hang fails.
FUZZ_SECONDS ?= 60
fuzz:
	scripts/install-deps.sh build fuzz ccache
	cmake -S . -B build-fuzz -DZQ_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	      -DZQ_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build build-fuzz -j$(JOBS)
	ctest --test-dir build-fuzz --output-on-failure --no-tests=error -j$(JOBS)

# Signs on the virtual pad for SOAK_SECONDS (default one hour) with several
# pages connected, printing RSS, descriptors and threads as it goes.
SOAK_SECONDS ?= 3600
soak: build-tests
	scripts/install-deps.sh test
	cmake -S . -B $(BUILD) -DZQ_SOAK_SECONDS=$(SOAK_SECONDS)
	status=0; ctest --test-dir $(BUILD) -R '^tst_soak$$' -V || status=$$?; \
	cmake -S . -B $(BUILD) -DZQ_SOAK_SECONDS=0 >/dev/null; exit $$status

# .deb packages for amd64 and arm64 in packages/ (scripts/make-packages.sh).
package:
	scripts/install-deps.sh build arm64 ccache
	JOBS=$(JOBS) scripts/make-packages.sh packages

clean:
	rm -rf build build-asan build-tsan build-arm64 build-package build-fuzz packages
