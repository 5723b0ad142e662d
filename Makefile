# The README's commands. Everything installs what it needs first.
BUILD ?= build
JOBS  ?= 2
CMAKE_FLAGS ?=

.PHONY: build run check check-asan check-tsan clean

build:
	scripts/install-deps.sh build
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	scripts/run-driver.sh $(BUILD)/bin/ZQSignDriver

check: build
	scripts/install-deps.sh test browser
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

check-asan:
	$(MAKE) check BUILD=build-asan CMAKE_FLAGS=-DZQ_SANITIZE=address

check-tsan:
	$(MAKE) check BUILD=build-tsan CMAKE_FLAGS=-DZQ_SANITIZE=thread

clean:
	rm -rf build build-asan build-tsan
