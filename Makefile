# The README's commands. Everything installs what it needs first.
BUILD ?= build
JOBS  ?= 2
CMAKE_FLAGS ?=

.PHONY: build build-tests run check check-asan check-tsan check-arm64 demo package clean

# Configuring needs only what was installed just before: the driver alone
# needs the build group; tests and the demo runner the test group as well.
build:
	scripts/install-deps.sh build
	cmake -S . -B $(BUILD) -DZQ_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

build-tests:
	scripts/install-deps.sh build test
	cmake -S . -B $(BUILD) -DZQ_BUILD_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	scripts/run-driver.sh $(BUILD)/bin/ZQSignDriver

check: build-tests
	scripts/install-deps.sh browser
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# One complete signing on the virtual pad through the sample page; the files
# land in demo-output/ (or DEMO_OUTPUT).
DEMO_OUTPUT ?= demo-output
demo: build-tests
	scripts/install-deps.sh browser
	scripts/demo.sh $(DEMO_OUTPUT)

check-asan:
	$(MAKE) check BUILD=build-asan CMAKE_FLAGS=-DZQ_SANITIZE=address

check-tsan:
	$(MAKE) check BUILD=build-tsan CMAKE_FLAGS=-DZQ_SANITIZE=thread

# Cross-built for aarch64, in-process tests under qemu-user (scripts/check-arm64.sh).
check-arm64:
	scripts/install-deps.sh arm64
	JOBS=$(JOBS) scripts/check-arm64.sh build-arm64

# .deb packages for amd64 and arm64 in packages/ (scripts/make-packages.sh).
package:
	scripts/install-deps.sh build arm64
	JOBS=$(JOBS) scripts/make-packages.sh packages

clean:
	rm -rf build build-asan build-tsan build-arm64 build-package packages
