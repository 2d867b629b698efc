# Veloran: the two commands a newcomer runs are `make run` and `make test`.
BUILD   ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all setup configure build test run bench clean

all: build

setup:
	@tools/setup

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DVELORAN_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j 2

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

bench: build
	@$(BUILD)/bin/veloran-bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

clean:
	rm -rf $(BUILD)
