// Row machinery of the filters that work one output row at a time: a point filter's row is a
// function of the same input row (one pixel or a lookup table at a time), an area filter's row
// sees a window of input rows padded sideways by the same edge rule. Both allocate the output
// like the input and spread the rows over the runner's workers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "core/image.h"

namespace tessaly {

// One row of a point filter: in and out hold width pixels of the input's type, and every one of
// them must be written (the output is not cleared first); mask is the 8-bit
// mask row when the module mixes by itself and a mask is in use, else null; scratch holds the
// declared bytes, one buffer per worker. Called from several workers at once.
using PointRow = std::function<void(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width,
                                    const std::uint8_t* mask, std::uint8_t* scratch)>;
struct PointRows {
    PointRow row;  // empty: the run fails (allocation)
    std::size_t scratch_bytes = 0;
};

// Rows beyond an edge: repeated edge row (clamp) or mirrored about the edge row without
// repeating it (mirror). The same rule pads each row sideways.
enum class Edge : std::uint8_t { clamp, mirror };
// One row of an area filter: rows[k] is source row y - radius + k (k = 0 .. 2 radius), each
// readable from pixel -radius to width + radius - 1; out is row y, every pixel to be written.
using AreaRow = std::function<void(const std::uint8_t* const* rows, std::uint8_t* out,
                                   std::uint32_t width, std::uint8_t* scratch)>;
struct AreaRows {
    int radius = 1;
    Edge edge = Edge::clamp;
    AreaRow row;
    std::size_t scratch_bytes = 0;
};

// The output allocated like in (type, size, resolution, profile, tags) and every row run through
// rows.row under title (empty: no progress window). mask: given to the rows (8 or 16-bit gray of
// in's size) or null. true on failure; out is then empty.
[[nodiscard]] bool run_point_rows(const PointRows& rows, const Image& in, Image& out,
                                  const Image* mask, std::string_view title);
[[nodiscard]] bool run_area_rows(const AreaRows& rows, const Image& in, Image& out,
                                 std::string_view title);

}  // namespace tessaly
