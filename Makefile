# Set-up, build, demo and tests in one place. `make demo` and `make test`
# work on a fresh Debian 12 machine: they install what is missing first.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2

.PHONY: all deps build demo test asan fuzz samples package package-check clean

all: build

deps:
	@bash tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

demo: build
	mkdir -p out
	$(BUILD)/compositor examples/demo.txt

# The window tests need an X server: the suite runs under a private Xvfb.
test: build
	bash tools/with-xvfb.sh ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCOMPOSITOR_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	bash tools/with-xvfb.sh ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The fuzz targets, built with clang, libFuzzer and both sanitizers, each
# run for FUZZ_SECONDS on its corpus (tools/fuzz.sh).
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOMPOSITOR_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_tga_load fuzz_png_load fuzz_jpeg_load fuzz_interpreter
	FUZZ_BUILD=$(FUZZ_BUILD) bash tools/fuzz.sh tga_load $(FUZZ_SECONDS)
	FUZZ_BUILD=$(FUZZ_BUILD) bash tools/fuzz.sh png_load $(FUZZ_SECONDS)
	FUZZ_BUILD=$(FUZZ_BUILD) bash tools/fuzz.sh jpeg_load $(FUZZ_SECONDS)
	FUZZ_BUILD=$(FUZZ_BUILD) bash tools/fuzz.sh interpreter $(FUZZ_SECONDS)

# Redraws the shipped sample images, the brush file and the icon.
samples: build
	$(BUILD)/make_samples data
	$(BUILD)/make_brushes data
	bash data/tools/make_icon.sh data/compositor.svg

# The Debian package, build/compositor_VERSION_amd64.deb.
package: build
	cmake --build $(BUILD) --target package

# Builds the package in a clean clone and checks what it installs.
package-check: deps
	bash tools/check-package.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) out
