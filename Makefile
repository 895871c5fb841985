# Front door of the project. Each target installs what it needs, configures and builds.
#   make run        build the simulated board and start orvane-sim on this terminal, with the
#                   Vantor's dashboard at http://127.0.0.1:8080/ (HTTP=ADDR:PORT elsewhere, HTTP= none)
#   make run-image  build the image and the emulated chip, start the image on it (orvane-emu)
#   make test       build the simulator, the sanitizer build and the target image; run every test
#   make firmware   build the target image (build/stm32g070/orvane-node.{elf,bin,hex,map})
#   make bench      run the benchmarks
#   make fuzz       run the fuzz targets under libFuzzer (clang)
SHELL := /bin/bash
JOBS ?= $(shell nproc)
SIM_ARGS ?=
# Where `make run` serves the Vantor's dashboard (empty: no dashboard).
HTTP ?= 127.0.0.1:8080

.PHONY: run run-image test firmware sim sim-asan deps-host deps-browser deps-target bench fuzz clean format

deps-host:
	@tools/install-deps.sh host

deps-browser:
	@tools/install-deps.sh browser

deps-target:
	@tools/install-deps.sh target

sim: deps-host
	@cmake --preset sim >/dev/null
	@cmake --build --preset sim -j $(JOBS)

sim-asan: deps-host
	@cmake --preset sim-asan >/dev/null
	@cmake --build --preset sim-asan -j $(JOBS)

firmware: deps-target
	@cmake --preset stm32g070 >/dev/null
	@cmake --build --preset stm32g070 -j $(JOBS)

run: sim
	@build/sim/orvane-sim $(if $(HTTP),--http $(HTTP)) $(SIM_ARGS)

# The image as flashed, on the emulated chip (orvane-emu), on this terminal.
run-image: sim firmware
	@build/sim/orvane-emu $(SIM_ARGS)

test: sim sim-asan firmware deps-browser
	ctest --preset sim -j $(JOBS)
	ctest --preset sim-asan -j $(JOBS)
	ctest --preset stm32g070

# libFuzzer runs of the fuzz targets (clang), FUZZ_SECONDS each.
FUZZ_SECONDS ?= 120
fuzz: deps-host
	@cmake --preset fuzz -DORVANE_FUZZ_SECONDS=$(FUZZ_SECONDS) >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	ctest --test-dir build/fuzz -L fuzz --output-on-failure

bench: sim firmware
	@for b in build/sim/tests/*_bench; do [ -x "$$b" ] && "$$b"; done; true
	@tests/bench/vantor_day.sh build/sim/orvane-sim
	@build/sim/tests/gateway_load build/sim/vantor
	@tests/bench/field_month.sh build/sim/orvane-sim-field
	@tests/bench/image_field_day.sh build/sim/orvane-emu build/stm32g070/orvane-node-field.elf build/sim/orvane-sim-field
	@tools/install-deps.sh browser && /usr/bin/python3 tests/bench/dashboard_browser_bench.py build/sim
	@tests/bench/fleet_day.sh build/sim 100

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
