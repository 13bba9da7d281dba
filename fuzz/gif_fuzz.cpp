// GIF files come from anywhere: the reader must take any bytes and either fail cleanly or deliver
// a picture whose every row can be read, without allocating for a screen or frame the file only
// claims (libFuzzer's memory limit stops a run that tries).
#include <cstddef>
#include <cstdint>

#include "fileio/image_file.h"
#include "fuzz_support.h"

TESSALY_READER_FUZZ_TARGET("input.gif", image_gray8, image_color24,
                           tessaly::read_gif_file(path, picture))
