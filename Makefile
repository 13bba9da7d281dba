# The two set-up commands: `make run` and `make test`. Both install what is missing first.
.PHONY: deps build run test test-release test-asan fuzz fuzz-regression bench compare clean

deps:
	@scripts/install-deps

build: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release

run: build
	@build/bin/tessaly-cli --version

test: fuzz-regression test-asan test-release

test-release: build
	@ctest --preset release

test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz

# Replays the committed corpus (and every crash found so far) through each fuzz target.
fuzz-regression: fuzz
	@scripts/fuzz-regression

bench: build
	@scripts/install-deps --bench
	@cmake --build --preset release --target benchmarks

# Our operations against libvips and OpenCV on the same pictures (bench/compare).
compare: deps
	@scripts/install-deps --bench
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target compare
	@build/bin/compare

clean:
	@rm -rf build
