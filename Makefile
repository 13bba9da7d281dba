# The two set-up commands: `make run` and `make test`. Both install what is missing first.
# The desktop program on three of the bundled photographs (settings kept in out/settings).
GUI_PHOTOS := $(foreach w,Path Autumn BytheWater,/usr/share/wallpapers/$(w)/contents/images/2560x1600.jpg)

.PHONY: deps build run gui test test-release test-asan fuzz fuzz-regression bench compare clean

deps:
	@scripts/install-deps

build: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release

# The main job: a batch over real photographs (Debian's plasma-workspace-wallpapers, with their
# cameras' EXIF, and rawtran-doc's camera raw file), run by the bundled workspace: each one
# sharpened with Unsharp Mask, then exported as a JPEG 2048 pixels on the long side, named after
# its date taken and camera, with the original's metadata. Then a print preview of the raw file
# made by the bundled snippet. Settings stay in out/settings.
RUN_PHOTO := /usr/share/doc/rawtran/IMG_5952.CR2
run: build
	@mkdir -p out
	@build/bin/tessaly-cli --version
	@rm -rf out/web
	@build/bin/tessaly-cli --settings-root out/settings share/workspaces/web-gallery.workspace \
		--export-folder out/web --batch
	@echo "Exported to $(CURDIR)/out/web:"
	@ls -1 out/web
	@build/bin/tessaly-cli --settings-root out/settings $(RUN_PHOTO) \
		--insert-snippet share/snippets/print-preview.snip --save out/IMG_5952-preview.jpg
	@echo "Saved in $(CURDIR)/out/: IMG_5952-preview.jpg and IMG_5952-preview.script"

gui: build
	@mkdir -p out/settings
	@TESSALY_SETTINGS_ROOT=$(CURDIR)/out/settings build/bin/tessaly $(GUI_PHOTOS)

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
