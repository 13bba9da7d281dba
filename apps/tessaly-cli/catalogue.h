// What tessaly-cli tells about the transformations, all made from the registry and the modules'
// declarations: --list, --describe, --reference (docs/transformations.md) and the command-line
// fuzz target's seeds.
#pragma once

#include <string>
#include <string_view>

namespace tessaly::cli {

// One line per registry row, in the registry's order: the keyword in columns 1-22, "built" or
// "not-built" in columns 23-32, the display name from column 33 to the end of the line.
std::string list_text();

// The description of one row (--describe). false when no row has that keyword.
bool describe_keyword(std::string_view keyword, std::string& out);

// The reference page of every transformation, in markdown.
std::string reference_page();

// Writes the seeds of the command-line fuzz target into folder (created when missing): each
// built module's default command line, and variants with every ranged numeric setting at its
// minimum, its maximum and one step beyond each. Files are named "gen-<keyword>...". true on
// failure, after its message.
bool write_fuzz_seeds(const std::string& folder);

}  // namespace tessaly::cli
