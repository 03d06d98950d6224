# The README's commands. Each installs what is missing first.
JOBS ?= $(shell nproc)
# How long `make fuzz` runs each fuzz target.
FUZZ_SECONDS ?= 60

.PHONY: deps run test lint smoke tsan bench fuzz clean

deps:
	@bash scripts/install-deps

run: deps
	cmake --preset dev
	cmake --build build/dev -j $(JOBS) --target gorrin
	./build/dev/Sources/QuandrilApp/gorrin

test: deps
	cmake --preset asan
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)
	bash scripts/desktop-smoke build/asan/Sources/QuandrilApp/gorrin

# The layout of .clang-format and the include order of the app's folders (scripts/lint says which).
lint: deps
	bash scripts/lint

# The desktop smoke alone: gorrin on a virtual desktop with a tray, screenshots in build/screenshots/.
smoke: deps
	cmake --preset asan
	cmake --build build/asan -j $(JOBS) --target gorrin
	bash scripts/desktop-smoke build/asan/Sources/QuandrilApp/gorrin

tsan: deps
	cmake --preset tsan
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -R 'History|ParallelMap|Fence|LinkRace|DiskUsage|ParallelWalk|Compare|Sampling|Leftovers'

bench: deps
	cmake --preset bench
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/Benchmarks/*Bench; do echo "== $$b"; $$b || exit 1; done

# Each target starts from its committed seeds (Fuzz/corpus/NAME, never written to) and keeps what
# it finds in build/fuzz/corpus/NAME; a failing input lands in build/fuzz/findings/.
fuzz:
	@bash scripts/install-deps --fuzz
	cmake --preset fuzz
	cmake --build build/fuzz -j $(JOBS)
	@mkdir -p build/fuzz/findings
	@for f in build/fuzz/Fuzz/*Fuzz; do \
		name=$$(basename $$f); mkdir -p build/fuzz/corpus/$$name; \
		echo "== $$name ($(FUZZ_SECONDS) s)"; \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 $$f -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
			-print_final_stats=1 -artifact_prefix=build/fuzz/findings/$$name- \
			build/fuzz/corpus/$$name Fuzz/corpus/$$name || exit 1; \
	done

clean:
	rm -rf build
