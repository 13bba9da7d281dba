#include "core/curve_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "core/format.h"
#include "core/text_file.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::file_text;
using testing::make_curve;
using testing::put_file;
using testing::RecordingScope;
using testing::TempDir;

std::string describe(const ColorCurves& c) {
    return std::to_string(c.colorspace) + "|" + curve_to_text(c.curve[0]) + "|" +
           curve_to_text(c.curve[1]) + "|" + curve_to_text(c.curve[2]);
}

ColorCurves sample_color_curves() {
    ColorCurves c;
    c.colorspace = colorspace_rgb;
    c.curve[0] = make_curve(curve_spline, {{0, 0}, {64, 160}, {255, 255}});
    c.curve[1] = make_curve(curve_linear, {{0, 255}, {255, 0}});
    c.curve[2] = make_curve(curve_step, {{0, 10}, {100, 90}, {200, 240}, {255, 255}});
    return c;
}

void tables_of(const ColorCurves& c, std::uint8_t (&t)[3][256]) {
    for (int i = 0; i < 3; ++i) curve_table8(c.curve[i], t[i]);
}

TEST(CurveFiles, CurveFileIsWrittenExactlyAndReadBack) {
    RecordingScope scope;
    TempDir dir;
    const std::string path = dir.file("tone.curve");
    Curve c = make_curve(curve_gamma, {{0, 5}, {77, 140}, {255, 250}});
    ASSERT_FALSE(save_curve_file(path, c));
    EXPECT_EQ(file_text(path),
              "\xEF\xBB\xBF"
              "Curve 1.0\r\nnpts 3\r\nstyle gamma\r\npoint 0 0 5\r\npoint 1 77 140\r\n"
              "point 2 255 250\r\nend\r\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    Curve back;
    ASSERT_FALSE(load_curve_file(path, back));
    EXPECT_EQ(curve_to_text(back), curve_to_text(c));

    // Points in any order, LF line ends, no mark, unknown keywords, an older version (warned),
    // and a ".crv" name: read by content.
    const std::string crv = dir.file("old.crv");
    put_file(crv,
             "Curve 0.9\nstyle linear\nnpts 2\ncomment x\npoint 1 200 20\npoint 0 10 30\nend\n");
    ASSERT_FALSE(load_curve_file(crv, back));
    EXPECT_EQ(curve_to_text(back), "2 1 10 30 200 20");
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Curve file was created for an older version of Tessaly -- "
                                       "some settings may assigned default values"});
    EXPECT_TRUE(scope.recorder.errors().empty());

    EXPECT_FALSE(check_curve_extension(path));
    EXPECT_TRUE(check_curve_extension(dir.file("tone.crv")));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Curve files must have an extension of .curve"});
}

TEST(CurveFiles, BadCurveFilesFailAndKeepTheCurve) {
    TempDir dir;
    const std::string path = dir.file("bad.curve");
    const std::string body = "npts 2\r\nstyle spline\r\npoint 0 0 0\r\npoint 1 255 255\r\n";
    for (const std::string& content : std::vector<std::string>{
             "ColorCurves 1.0\r\n" + body + "end\r\n", "Curve\r\n" + body + "end\r\n",
             "Curve 1.0\r\n" + body, "Curve 1.0\r\nnpts 257\r\nend\r\n",
             "Curve 1.0\r\n" + body + "point 256 0 0\r\nend\r\n",
             "Curve 1.0\r\nnpts 3\r\npoint 0 0 0\r\npoint 1 255 255\r\nend\r\n",
             "Curve 1.0\r\nnpts 2\r\npoint 0 9 0\r\npoint 1 9 255\r\nend\r\n",
             "Curve 1.0\r\nnpts 2\r\nstyle wavy\r\npoint 0 0 0\r\npoint 1 255 255\r\nend\r\n",
             "Curve 1.0\r\npoint 0 0 0\r\npoint 1 255 255\r\nend\r\n", std::string()}) {
        RecordingScope scope;
        put_file(path, content);
        Curve kept = make_curve(curve_linear, {{1, 2}, {3, 4}});
        EXPECT_TRUE(load_curve_file(path, kept)) << content;
        EXPECT_EQ(curve_to_text(kept), "2 1 1 2 3 4");
        EXPECT_EQ(scope.recorder.errors(),
                  std::vector<std::string>{"Cannot read curve file: " + path})
            << content;
    }
    RecordingScope scope;
    Curve kept;
    put_file(path, "Curve 1.5\r\n" + body + "end\r\n");
    EXPECT_TRUE(load_curve_file(path, kept));
    EXPECT_TRUE(load_curve_file(dir.file("missing.curve"), kept));
    EXPECT_TRUE(save_curve_file(dir.file("no/such/folder.curve"), kept));
    EXPECT_TRUE(curve_is_identity(kept));
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Curve file was created for a newer version of Tessaly -- "
                                       "some settings may be ignored"});
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{
                  "Cannot open curve file: " + dir.file("missing.curve"),
                  "Cannot create curve file: " + dir.file("no/such/folder.curve")}));
}

TEST(CurveFiles, ColorCurvesFile) {
    RecordingScope scope;
    TempDir dir;
    const std::string path = dir.file("look.cc");
    ColorCurves small;
    small.colorspace = colorspace_hsl;
    small.curve[1] = make_curve(curve_step, {{0, 10}, {255, 20}});
    ASSERT_FALSE(save_color_curves_any(path, small));
    EXPECT_EQ(file_text(path),
              "\xEF\xBB\xBF"
              "ColorCurves 1.0\r\ncolorspace 1\r\n"
              "npts1 2\r\nstyle1 spline\r\npoint1 0 0 0\r\npoint1 1 255 255\r\n"
              "npts2 2\r\nstyle2 step\r\npoint2 0 0 10\r\npoint2 1 255 20\r\n"
              "npts3 2\r\nstyle3 spline\r\npoint3 0 0 0\r\npoint3 1 255 255\r\nend\r\n");
    ColorCurves back = sample_color_curves();
    ASSERT_FALSE(load_color_curves_any(path, back));
    EXPECT_EQ(describe(back), describe(small));

    ColorCurves full = sample_color_curves();
    ASSERT_FALSE(save_color_curves_file(path, full));
    ASSERT_FALSE(load_color_curves_file(path, back));
    EXPECT_EQ(describe(back), describe(full));
    EXPECT_TRUE(scope.recorder.errors().empty());

    const std::string curve1 = "npts1 2\r\npoint1 0 0 0\r\npoint1 1 255 255\r\n";
    const std::string curve2 = "npts2 2\r\npoint2 0 0 0\r\npoint2 1 255 255\r\n";
    const std::string curve3 = "npts3 2\r\npoint3 0 0 0\r\npoint3 1 255 255\r\n";
    for (const std::string& content : std::vector<std::string>{
             "ColorCurves 1.0\r\ncolorspace 3\r\n" + curve1 + curve2 + curve3 + "end\r\n",
             "ColorCurves 1.0\r\n" + curve1 + curve2 + "end\r\n",
             "ColorCurves 1.0\r\n" + curve1 + curve2 + curve3,
             "ColorCurves 1.0\r\nnpts2 300\r\n" + curve1 + curve3 + "end\r\n",
             "Curve 1.0\r\n" + curve1 + curve2 + curve3 + "end\r\n"}) {
        RecordingScope bad_scope;
        put_file(path, content);
        ColorCurves kept = full;
        EXPECT_TRUE(load_color_curves_file(path, kept)) << content;
        EXPECT_EQ(describe(kept), describe(full));
        EXPECT_EQ(bad_scope.recorder.errors(),
                  std::vector<std::string>{"Cannot read color curves file: " + path});
    }
    RecordingScope missing;
    EXPECT_TRUE(load_color_curves_any(dir.file("none.cc"), back));
    EXPECT_TRUE(load_color_curves_any(dir.file("look.txt"), back));
    EXPECT_TRUE(save_color_curves_file(dir.file("no/dir.cc"), full));
    EXPECT_EQ(
        missing.recorder.errors(),
        (std::vector<std::string>{"Cannot open color curves file: " + dir.file("none.cc"),
                                  "Unrecognized file extension: .txt",
                                  "Cannot create color curves file: " + dir.file("no/dir.cc")}));
}

TEST(CurveFiles, FloatCurveFile) {
    RecordingScope scope;
    TempDir dir;
    const std::string path = dir.file("fade.float curve");
    FloatCurve f;
    f.npts = 3;
    f.style = curve_linear;
    f.x[1] = 0.25;
    f.y[1] = 1.0 / 3;
    f.x[2] = 1.0;
    f.y[2] = 0.5;
    ASSERT_FALSE(save_float_curve_file(path, f));
    EXPECT_EQ(file_text(path),
              "\xEF\xBB\xBF"
              "FloatCurve 1.0\r\nnpts 3\r\nstyle linear\r\npoint 0 0.0000 0.0000\r\n"
              "point 1 0.2500 0.3333\r\npoint 2 1.0000 0.5000\r\nend\r\n");
    FloatCurve back;
    ASSERT_FALSE(load_float_curve_file(path, back));
    EXPECT_EQ(float_curve_to_text(back),
              "3 1 0.000000 0.000000 0.250000 0.333300 1.000000 0.500000");
    EXPECT_FALSE(check_float_curve_extension(path));
    EXPECT_TRUE(scope.recorder.errors().empty());

    for (const std::string& content : std::vector<std::string>{
             std::string("FloatCurve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1.5 1\r\nend\r\n"),
             std::string("FloatCurve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1 1\r\n"),
             std::string("FloatCurve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1 x\r\nend\r\n"),
             std::string("Curve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1 1\r\nend\r\n")}) {
        RecordingScope bad_scope;
        put_file(path, content);
        FloatCurve kept = f;
        EXPECT_TRUE(load_float_curve_file(path, kept)) << content;
        EXPECT_DOUBLE_EQ(kept.y[1], 1.0 / 3);
        EXPECT_EQ(bad_scope.recorder.errors(),
                  std::vector<std::string>{"Cannot read float curve file: " + path});
    }
    RecordingScope other;
    EXPECT_TRUE(load_float_curve_file(dir.file("none.float curve"), back));
    EXPECT_TRUE(save_float_curve_file(dir.file("no/dir.float curve"), f));
    EXPECT_TRUE(check_float_curve_extension(dir.file("fade.curve")));
    EXPECT_EQ(other.recorder.errors(),
              (std::vector<std::string>{
                  "Cannot open float curve file: " + dir.file("none.float curve"),
                  "Cannot create float curve file: " + dir.file("no/dir.float curve"),
                  "Float curve files must have an extension of .float curve"}));
}

std::string words(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v >> 8), out += static_cast<char>(v & 255);
    return out;
}

TEST(CurveFiles, PhotoshopAndAmpImports) {
    RecordingScope scope;
    TempDir dir;
    const std::string acv = dir.file("p.acv");
    // One curve: (output, input) pairs, used for all three channels.
    put_file(acv, words({1, 1, 3, 0, 0, 200, 128, 255, 255}));
    ColorCurves c;
    c.colorspace = colorspace_hsv;
    ASSERT_FALSE(load_color_curves_any(acv, c));
    EXPECT_EQ(describe(c),
              "2|3 2 0 0 128 200 255 255|3 2 0 0 128 200 255 255|3 2 0 0 128 200 255 255");
    // Five curves: the composite is skipped.
    put_file(acv, words({4,   5,   2, 0,  0, 255, 255, 2,   10,  0, 255, 255, 2, 20, 0,
                         255, 255, 3, 30, 0, 100, 50,  255, 255, 2, 0,   0,   9, 9}));
    ASSERT_FALSE(load_acv_file(acv, c));
    EXPECT_EQ(describe(c), "2|2 2 0 10 255 255|2 2 0 20 255 255|3 2 0 30 50 100 255 255");
    EXPECT_TRUE(scope.recorder.errors().empty());

    const ColorCurves before = c;
    for (const std::string& bytes :
         std::vector<std::string>{words({2, 1, 2, 0, 0, 255, 255}),  // version 2
                                  words({1, 2, 2, 0, 0, 255, 255}),  // two curves
                                  words({1, 1, 2, 0, 0, 255}),       // truncated
                                  words({1, 1, 2, 0, 9, 255, 9}),    // inputs not increasing
                                  words({1, 1, 2, 0, 0, 300, 255}),  // output out of range
                                  words({1, 1, 1, 0, 0}), std::string("\x00", 1)}) {
        RecordingScope bad;
        put_file(acv, bytes);
        EXPECT_TRUE(load_color_curves_any(acv, c));
        EXPECT_EQ(describe(c), describe(before));
        EXPECT_EQ(bad.recorder.errors(),
                  std::vector<std::string>{"Cannot read color curves file: " + acv});
    }

    const std::string amp = dir.file("t.amp");
    std::string tables(768, '\0');
    for (int i = 0; i < 768; ++i) tables[i] = static_cast<char>((i * 7 + i / 256 * 50) & 255);
    put_file(amp, tables);
    ASSERT_FALSE(load_color_curves_any(amp, c));
    std::uint8_t t[3][256];
    tables_of(c, t);
    for (int i = 0; i < 768; ++i)
        ASSERT_EQ(t[i / 256][i % 256], static_cast<std::uint8_t>(tables[i]));
    put_file(amp, tables.substr(1));
    RecordingScope bad;
    EXPECT_TRUE(load_amp_file(amp, c));
    EXPECT_EQ(bad.recorder.errors(),
              std::vector<std::string>{"Cannot read color curves file: " + amp});
}

TEST(CurveFiles, CubeExportAndImport) {
    RecordingScope scope;
    TempDir dir;
    const std::string path = dir.file("look.cube");
    const ColorCurves curves = sample_color_curves();
    ASSERT_FALSE(save_color_curves_any(path, curves));
    const std::string text = file_text(path);
    std::uint8_t t[3][256];
    tables_of(curves, t);
    // No mark; "%5zf" drops trailing zeros and the point of whole numbers.
    EXPECT_TRUE(text.starts_with(
        "DOMAIN_MIN 0 0 0\r\nDOMAIN_MAX 1 1 1\r\nLUT_1D_SIZE 256\r\n0 1 0.03922\r\n"));
    EXPECT_TRUE(text.ends_with("\r\n1 0 0.94118\r\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 259);

    ColorCurves back;
    back.colorspace = colorspace_hsv;
    ASSERT_FALSE(load_color_curves_any(path, back));
    EXPECT_EQ(back.colorspace, colorspace_rgb);
    std::uint8_t u[3][256];
    tables_of(back, u);
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) ASSERT_EQ(u[c][v], t[c][v]) << c << " " << v;
    }

    // A small table with comments, a title, a mark and a domain.
    put_file(path,
             "\xEF\xBB\xBF# made by hand\nTITLE \"two\"\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 0.5\n"
             "LUT_1D_SIZE 2\n\n0 0.2 0\n1 0.6 1\n");
    ASSERT_FALSE(load_cube_file(path, back));
    tables_of(back, u);
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(u[0][v], v);
        ASSERT_EQ(u[1][v], std::lround(51 + 0.4 * v)) << v;
        ASSERT_EQ(u[2][v], std::min(255, 2 * v)) << v;
    }
    EXPECT_TRUE(scope.recorder.errors().empty());

    const ColorCurves kept_value = back;
    struct Bad {
        std::string content, message;
    };
    for (const Bad& bad :
         {Bad{"LUT_3D_SIZE 17\n", "Cannot load 3-D cube file"},
          Bad{"LUT_1D_SIZE 1\n0 0 0\n", "LUT size out of range (2 .. 1024): 1"},
          Bad{"LUT_1D_SIZE 1025\n", "LUT size out of range (2 .. 1024): 1025"},
          Bad{"0 0 0\n", "Missing LUT_1D_SIZE"}, Bad{"# nothing\n", "Missing LUT_1D_SIZE"},
          Bad{"LUT_1D_SIZE 2\n0 0 0\nzero 0 0\n", "Illegal R channel value: zero"},
          Bad{"LUT_1D_SIZE 2\n0 x 0\n1 1 1\n", "Illegal G channel value: x"},
          Bad{"LUT_1D_SIZE 2\n0 0\n1 1 1\n", "Illegal B channel value: "},
          Bad{"LUT_1D_SIZE 3\n0 0 0\n1 1 1\n", "Unexpected end of file"},
          Bad{"DOMAIN_MAX 0 1 1\nLUT_1D_SIZE 2\n0 0 0\n1 1 1\n",
              "Cannot read color curves file: " + path}}) {
        RecordingScope bad_scope;
        put_file(path, bad.content);
        ColorCurves kept = kept_value;
        EXPECT_TRUE(load_color_curves_any(path, kept)) << bad.content;
        EXPECT_EQ(describe(kept), describe(kept_value));
        EXPECT_EQ(bad_scope.recorder.errors(), std::vector<std::string>{bad.message})
            << bad.content;
    }

    RecordingScope hsv_scope;
    ColorCurves hsv = curves;
    hsv.colorspace = colorspace_hsv;
    const std::string never = dir.file("hsv.cube");
    EXPECT_TRUE(save_cube_file(never, hsv));
    EXPECT_FALSE(std::filesystem::exists(never));
    EXPECT_EQ(hsv_scope.recorder.errors(),
              std::vector<std::string>{"Only RGB curves can be saved as a cube file"});
}

}  // namespace
}  // namespace tessaly
