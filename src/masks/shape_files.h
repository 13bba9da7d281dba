// Shape files: polygon and spline outlines (".polygon", ".spline") and the two gradients
// (".linear gradient", ".oval gradient") as small line-oriented text files, so that one shape can
// be applied to other images. Outline coordinates are fractions of M = max(width - 1,
// height - 1), the same for x and y, so a shape keeps its proportions; gradient end points are
// fractions of width - 1 and height - 1.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/arguments.h"
#include "core/interaction.h"
#include "mask_operations.h"

namespace tessaly {

enum class ShapeFileKind { polygon, spline, linear_gradient, oval_gradient };

// What the file dialogs of one kind show.
struct ShapeFileType {
    const char* extension;   // ".polygon"
    const char* filter;      // "Polygon Files"
    const char* pattern;     // "*.polygon"
    const char* load_title;  // "Load Polygon File"
    const char* save_title;  // "Save Polygon File"
    const char* folder;      // "Shapes" or "Mask Gradients"
    const char* wrong_extension;
};
const ShapeFileType& shape_file_type(ShapeFileKind kind);

// The save dialog's extension check: nothing when path ends with the kind's extension (any
// case); else the message to show and the name with its extension replaced, to offer when the
// dialog comes back.
struct ExtensionFix {
    std::string message;
    std::string corrected;
};
std::optional<ExtensionFix> check_shape_extension(ShapeFileKind kind, const std::string& path);

// The dialog choice of a kind, in its folder under the settings root.
FileChoice shape_file_choice(ShapeFileKind kind, bool save);
// Asks for a file through the Interaction. A save name without the extension shows the message
// and asks again with the corrected name suggested. Nothing when the person cancels.
std::optional<std::string> choose_shape_file(ShapeFileKind kind, bool save);

// Writing: true on failure, after "Error saving polygon file" (or spline, linear gradient, oval
// gradient). width and height are the image's the coordinates are in pixels of.
bool save_polygon_file(const std::string& path, const std::vector<MaskVertex>& vertices,
                       std::int32_t width, std::int32_t height);
bool save_spline_file(const std::string& path, const std::vector<MaskVertex>& controls,
                      std::int32_t width, std::int32_t height);
// x0, y0, x1, y1 and the color line of parameters; the angle too for the oval gradient.
bool save_linear_gradient_file(const std::string& path, const MaskOperationParameters& gradient,
                               std::int32_t width, std::int32_t height);
bool save_oval_gradient_file(const std::string& path, const MaskOperationParameters& gradient,
                             std::int32_t width, std::int32_t height);

// Reading scales to state.nx and state.ny. The shape becomes the pending shape of its tool:
// state.tool is set to the tool, the outline to state.pending_vertices (the gradient's color line
// and angle to the tool settings), and state.pending to the operation, which is recorded only
// when applied (mask_set_pending shows it). A file that fails leaves the state unchanged and shows
// "Error loading polygon file" (or spline, linear gradient, oval gradient). true on failure.
bool load_polygon_file(const std::string& path, MaskState& state);
bool load_spline_file(const std::string& path, MaskState& state);
bool load_linear_gradient_file(const std::string& path, MaskState& state);
bool load_oval_gradient_file(const std::string& path, MaskState& state);

// The color line as gradient files and mask command lines write it: a count, then per stop
// " %6f %d %d %x" (position, the two integers, colour).
std::string color_line_text(const ColorLine& line);
// Reads that form from the tokens of args from first on; true when it does not read (line is then
// unchanged). Tokens after the stops are left alone.
bool parse_color_line(const ArgumentList& args, int first, ColorLine& line);

}  // namespace tessaly
