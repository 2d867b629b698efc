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

run: build
	@echo "Built: $(BUILD)"

bench: build
	@$(BUILD)/bin/veloran-bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

clean:
	rm -rf $(BUILD)
