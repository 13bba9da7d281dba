// TIFF files come from anywhere: the reader must take any bytes and either fail cleanly or
// deliver a picture whose every row can be read, without ever allocating for a size the file
// only claims (libFuzzer's memory limit stops a run that tries).
#include <cstddef>
#include <cstdint>

#include "fileio/image_file.h"
#include "fuzz_support.h"

TESSALY_READER_FUZZ_TARGET("input.tif", image_binary, image_color48,
                           tessaly::read_tiff_file(path, picture, nullptr))
