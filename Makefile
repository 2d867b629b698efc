# Veloran: the two commands a newcomer runs are `make run` and `make test`.
BUILD   ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release
SETUP   ?= tools/setup

.PHONY: all setup configure build test tsan web test-web web-node test-sid run bench bench-web bench-compare fuzz package clean

all: build

setup:
	@$(SETUP)

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DVELORAN_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD)

# Every test, then the unit and end-to-end tests once more under
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan).
test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j 2
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELORAN_WERROR=ON \
	  -DVELORAN_SANITIZE=ON -DVELORAN_GUI=OFF >/dev/null
	@cmake --build build-asan --target veloran_tests veloran-convert
	@ctest --test-dir build-asan --output-on-failure -j 2
	@$(MAKE) --no-print-directory test-web

# The threaded parts (the executor, the batch engine, the file sink, the
# GeoTIFF's compression and the programs that run them) under
# ThreadSanitizer (build-tsan).
TSAN_TESTS ?= ^(Executor|FileSink|Batch|BatchOutput|Archive|Archives|GeoTiff|Driver|Cli|Outputs)\.
tsan: configure
	@cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELORAN_WERROR=ON \
	  -DVELORAN_TSAN=ON -DVELORAN_GUI=OFF -DVELORAN_BENCH=OFF >/dev/null
	@cmake --build build-tsan --target veloran_tests veloran-convert
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir build-tsan --output-on-failure -j 2 \
	  -R '$(TSAN_TESTS)'

# The web page in build/web: the core in WebAssembly (emscripten, with
# zlib, libdeflate, libtiff, libpng and libarchive built from Debian's
# source packages once, into build/web-deps) and the page's own files.
# Serve it with any static server: python3 -m http.server -d build/web
WEB_EMENV = NODE_PATH=/usr/share/nodejs
web: setup
	@$(WEB_EMENV) tools/web-deps $(BUILD)/web-deps/prefix
	@$(WEB_EMENV) emcmake cmake -S . -B $(BUILD)/web-build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELORAN_WEB=ON \
	  -DVELORAN_WERROR=ON -DCMAKE_FIND_ROOT_PATH=$(abspath $(BUILD))/web-deps/prefix \
	  -DVELORAN_WEB_OUT=$(abspath $(BUILD))/web >/dev/null
	@$(WEB_EMENV) cmake --build $(BUILD)/web-build

# The page in Debian's Chromium, headless (puppeteer-core from npm, as
# tests/web/package-lock.json pins it), against veloran-convert's files.
web-node:
	@mkdir -p $(BUILD)/web-test
	@cp tests/web/package.json tests/web/package-lock.json tests/web/*.mjs tests/web/same_raster.py $(BUILD)/web-test/
	@cd $(BUILD)/web-test && npm ci --no-audit --no-fund --silent
test-web: web build web-node
	@node $(BUILD)/web-test/page_test.mjs $(BUILD)/web $(BUILD)/bin/veloran-convert tests/data $(BUILD)/web-test/work

# The GDAL plugin built and tested in a Debian sid chroot, against the
# newest GDAL (which has no SDTS driver of its own) and GCC.
test-sid: setup
	@tools/test-sid

# Writes the sample quadrangle into build/sample; with a display, opens the
# desktop program there, otherwise converts the sample with veloran-convert
# and shows the result.
run: build
	@rm -rf $(BUILD)/sample
	@$(BUILD)/bin/veloran-make-sample $(BUILD)/sample base >/dev/null
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "== veloran: File > Convert SDTS to DEM, then choose $(BUILD)/sample/1234CEL0.DDF"; \
	  cd $(BUILD)/sample && ../bin/veloran; \
	else \
	  echo "== veloran-convert $(BUILD)/sample/1234CEL0.DDF"; \
	  cd $(BUILD)/sample && ../bin/veloran-convert 1234CEL0.DDF && \
	  echo "== written:" && ls -l *.dem && \
	  echo "== record A, first 144 columns:" && head -c 144 *.dem && echo; \
	fi

# Fuzzing: each harness runs FUZZ_SECONDS (default 10 minutes) from the
# seed corpus; findings land in build-fuzz/artifacts.
FUZZ_SECONDS ?= 600
fuzz: configure
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DVELORAN_FUZZ=ON >/dev/null
	@cmake --build build-fuzz
	@cmake --build $(BUILD) --target veloran-make-sample
	@rm -rf build-fuzz/seeds && tools/fuzz-seeds $(BUILD)/bin/veloran-make-sample build-fuzz/seeds
	@mkdir -p build-fuzz/artifacts build-fuzz/corpus/ddf build-fuzz/corpus/transfer
	@for h in ddf transfer; do \
	  echo "== $${h}_fuzzer for $(FUZZ_SECONDS) s"; \
	  build-fuzz/bin/$${h}_fuzzer build-fuzz/corpus/$$h build-fuzz/seeds/$$h -max_total_time=$(FUZZ_SECONDS) \
	    -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/$$h- || exit 1; \
	done

# A Debian package of both programs, their help, manual pages, completion,
# desktop entry, icon and AppStream metadata: build/veloran_VERSION_ARCH.deb.
package: build
	@if command -v emcc >/dev/null 2>&1; then $(MAKE) --no-print-directory web; fi
	@cd $(BUILD) && cmake . >/dev/null && cpack -G DEB

bench: build
	@$(BUILD)/bin/veloran-bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
	@if [ -x $(BUILD)/bin/veloran-gdal-bench ]; then \
	  $(BUILD)/bin/veloran-gdal-bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true; fi
	@tools/bench-memory $(BUILD)

# The page in headless Chromium: its weight, Mount Tabor to a DEM from
# opening the page, and again once it is loaded.
bench-web: web web-node
	@node $(BUILD)/web-test/bench.mjs $(BUILD)/web tests/data/mount-tabor-7974 7

bench-compare: build
	@tools/bench-compare $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
