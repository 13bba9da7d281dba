// Camera raw files come from anywhere: the reader must take any bytes and either fail cleanly or
// deliver a developed picture whose every row can be read, within the memory limit it is given.
#include <cstddef>
#include <cstdint>

#include "fileio/image_file.h"
#include "fuzz_support.h"

TESSALY_READER_FUZZ_TARGET("input.cr2", image_gray8, image_color48,
                           tessaly::read_raw_file(path, picture))
