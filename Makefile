# The README's commands. Each installs what is missing first.
JOBS ?= $(shell nproc)

.PHONY: deps run test tsan bench clean

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

tsan: deps
	cmake --preset tsan
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -R 'History|ParallelMap|Fence|LinkRace'

bench: deps
	cmake --preset bench
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/Benchmarks/*Bench; do echo "== $$b"; $$b || exit 1; done

clean:
	rm -rf build
