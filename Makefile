# The two set-up commands: `make run` and `make test`. Both install what is missing first.
.PHONY: deps build run test test-release test-asan fuzz fuzz-regression bench compare clean

deps:
	@scripts/install-deps

build: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release

# The main job: a camera raw photograph (Debian's rawtran-doc) made into a print preview by the
# bundled snippet (Resize to 1600 pixels on the long side, then 300 dpi), saved as JPEG with its
# script beside it. Settings stay in out/settings.
RUN_PHOTO := /usr/share/doc/rawtran/IMG_5952.CR2
run: build
	@mkdir -p out
	@build/bin/tessaly-cli --version
	@build/bin/tessaly-cli --settings-root out/settings $(RUN_PHOTO) \
		--insert-snippet share/snippets/print-preview.snip --save out/IMG_5952-preview.jpg
	@echo "Saved in $(CURDIR)/out/: IMG_5952-preview.jpg and IMG_5952-preview.script"

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
