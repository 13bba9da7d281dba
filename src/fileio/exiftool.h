// Metadata through ExifTool: copying the original's tags into a saved file, embedding a
// thumbnail, reading the lens identification and geotagging a folder. ExifTool is an outside
// program; Tessaly builds its argument vectors, hands them without a shell to one ExifTool
// process kept running for the session (or starts one for the command when that cannot be
// done), waits for it and reads what it leaves behind.
#pragma once

#include <string>
#include <vector>

#include "core/image.h"

namespace tessaly {

// Metadata modes of the save options.
enum : int {
    metadata_all = 0,
    metadata_all_but_gps = 1,
    metadata_profile_only = 2,
    metadata_none = 3
};

// "exiftool" beside the program, else on PATH; empty when there is none. set_exiftool_path
// overrides the lookup (an empty text restores it).
std::string exiftool_path();
void set_exiftool_path(const std::string& path);

// true on failure; messages as each operation documents.
bool copy_metadata(const std::string& original, const std::string& target, int mode,
                   const Image* thumbnail_source);
bool add_thumbnail(const std::string& target, const Image& image);
bool read_lens_id(const std::string& image_path, std::string& lens);
// sign is '+' or '-'; hours and minutes of the camera clock's offset from the log's time.
bool geotag_folder(const std::string& gps_log, char sign, int hours, int minutes,
                   const std::string& folder);

// The argument vectors (after the program itself), exposed for tests and for logging.
std::vector<std::string> copy_metadata_arguments(const std::string& original,
                                                 const std::string& target, int mode,
                                                 const std::string& thumbnail);
std::vector<std::string> add_thumbnail_arguments(const std::string& target,
                                                 const std::string& thumbnail);
std::vector<std::string> lens_id_arguments(const std::string& image_path,
                                           const std::string& output);
std::vector<std::string> geotag_arguments(const std::string& gps_log, char sign, int hours,
                                          int minutes, const std::string& folder);
// The lens name of a lens id file: the text after the first ':' and the character after it, up
// to the first CR, LF or NUL. true when there is no colon.
bool parse_lens_id(const std::string& text, std::string& lens);

// Runs a program with an argument vector (no shell) and waits for it, at most seconds (then it
// is stopped), its address space held to 4 GiB; standard output and error go to output_file
// when one is given (appended), else they are read for error lines. report holds those lines,
// the exit status when it was not 0 and nothing was said, or the stop.
struct ProgramRun {
    bool started = false;
    bool timed_out = false;
    std::string report;
};
ProgramRun run_program_bounded(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::string& output_file, int seconds);

// The same with an hour's allowance; true when it could not be started.
bool run_program(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& output_file = std::string());

}  // namespace tessaly
