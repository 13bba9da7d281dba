// BMP files come from anywhere: the reader must take any bytes and either fail cleanly or
// deliver a picture whose every row can be read.
#include <cstddef>
#include <cstdint>

#include "fileio/image_file.h"
#include "fuzz_support.h"

TESSALY_READER_FUZZ_TARGET("input.bmp", image_binary, image_color24,
                           tessaly::read_bmp_file(path, picture))
