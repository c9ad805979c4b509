# The two commands that do everything: `make run` and `make test`.
SHELL := /bin/bash
UNAME := $(shell uname -s)
DEMO_SCENARIO ?= scenarios/no-jdk.json

.PHONY: deps run test test-asan test-tsan test-libcxx bench fuzz format lint screenshots doctor clean

deps:
	@scripts/install-deps.sh

build/dev/build.ninja: CMakeLists.txt CMakePresets.json
	cmake --preset dev

run: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev
ifeq ($(UNAME),Darwin)
	build/dev/app/lumora-java
else
	@echo "Not on a Mac: starting the app on the simulated Mac in $(DEMO_SCENARIO)."
	build/dev/app/lumora-java --scenario $(DEMO_SCENARIO)
endif

doctor: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev --target lumora-java
	build/dev/app/lumora-java --doctor --scenario $(DEMO_SCENARIO)

test: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev
	ctest --preset dev

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan

test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan
	ctest --preset tsan

# clang with libc++, the C++ library of the macOS build (the Qt-free part on
# Linux: see the libcxx preset).
test-libcxx: deps
	cmake --preset libcxx >/dev/null
	cmake --build --preset libcxx
	ctest --preset libcxx

bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release
	tools/run-benchmarks.sh build/release

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	tools/run-fuzzers.sh build/fuzz $(or $(FUZZ_SECONDS),60)

screenshots: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev --target lumora-screenshots
	QT_QPA_PLATFORM=offscreen build/dev/app/lumora-screenshots build/dev/screenshots

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

lint: build/dev/build.ninja
	git ls-files 'engine/*.cpp' 'app/*.cpp' 'ui/*.cpp' 'tools/*.cpp' | xargs clang-tidy -p build/dev --quiet

clean:
	rm -rf build

# The disk image, made on a Mac (docs/architecture.md, "Shipping on macOS"): a
# distribution build of the app bundle for LUMO_PRODUCT (default lumora-java),
# Qt deployed into it, signed and notarised when LUMO_SIGN_IDENTITY and
# LUMO_NOTARY_PROFILE are set. It refuses the development telemetry settings:
# give LUMO_TELEMETRY_ENDPOINT and LUMO_TELEMETRY_KEY (and LUMO_BUILD_NUMBER).
.PHONY: package
ifeq ($(UNAME),Darwin)
package: deps
	cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_DISTRIBUTION=ON \
	  -DLUMO_BUILD_TESTS=OFF -DLUMO_BUILD_BENCHMARKS=OFF \
	  $${LUMO_PRODUCT:+"-DLUMO_PRODUCT=$$LUMO_PRODUCT"} \
	  $${LUMO_BUILD_NUMBER:+"-DLUMO_BUILD_NUMBER=$$LUMO_BUILD_NUMBER"} \
	  $${LUMO_TELEMETRY_ENDPOINT:+"-DLUMO_TELEMETRY_ENDPOINT=$$LUMO_TELEMETRY_ENDPOINT"} \
	  $${LUMO_TELEMETRY_KEY:+"-DLUMO_TELEMETRY_KEY=$$LUMO_TELEMETRY_KEY"}
	cmake --build build/package --target package
else
package:
	@echo "Packages are built on macOS: run make package on a Mac."
endif
