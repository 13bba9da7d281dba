#include "core/curve_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "core/format.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::file_text;
using testing::make_curve;
using testing::put_file;
using testing::RecordingScope;
using Strings = std::vector<std::string>;

std::string describe(const ColorCurves& c) {
    return std::to_string(c.colorspace) + "|" + curve_to_text(c.curve[0]) + "|" +
           curve_to_text(c.curve[1]) + "|" + curve_to_text(c.curve[2]);
}
std::string describe(const Curve& c) {
    return curve_to_text(c);
}
std::string describe(const FloatCurve& c) {
    return float_curve_to_text(c);
}

// Writes content to path; loading it into a copy of value must fail, keep the copy as it was
// and show exactly message.
template <class T>
void expect_refused(bool (*load)(const std::string&, T&), const T& value, const std::string& path,
                    const std::string& content, const std::string& message) {
    RecordingScope scope;
    put_file(path, content);
    T kept = value;
    EXPECT_TRUE(load(path, kept)) << content;
    EXPECT_EQ(describe(kept), describe(value)) << content;
    EXPECT_EQ(scope.recorder.errors(), Strings{message}) << content;
}

// The three 8-bit tables one after the other.
std::vector<std::uint8_t> tables_of(const ColorCurves& c) {
    std::vector<std::uint8_t> t(768);
    for (int i = 0; i < 3; ++i) curve_table8(c.curve[i], t.data() + 256 * i);
    return t;
}

class CurveFiles : public ::testing::Test {
  protected:
    std::string file(const std::string& name) const { return dir_.file(name); }
    testing::TempDir dir_;
    RecordingScope scope_;
};

TEST_F(CurveFiles, CurveFileIsWrittenExactlyAndReadBack) {
    const std::string path = file("tone.curve");
    Curve c = make_curve(curve_gamma, {{0, 5}, {77, 140}, {255, 250}}), back;
    ASSERT_FALSE(save_curve_file(path, c));
    EXPECT_EQ(file_text(path), "\xEF\xBB\xBF" + std::string("Curve 1.0\r\nnpts 3\r\nstyle gamma\r\n"
                                                            "point 0 0 5\r\npoint 1 77 140\r\n"
                                                            "point 2 255 250\r\nend\r\n"));
    ASSERT_FALSE(load_curve_file(path, back));
    EXPECT_EQ(curve_to_text(back), curve_to_text(c));
    // Points in any order, LF line ends, no mark, unknown keywords, an older version (warned),
    // and a ".crv" name: read by content.
    put_file(file("old.crv"),
             "Curve 0.9\nstyle linear\nnpts 2\ncomment x\npoint 1 200 20\npoint 0 10 30\nend\n");
    ASSERT_FALSE(load_curve_file(file("old.crv"), back));
    EXPECT_EQ(curve_to_text(back), "2 1 10 30 200 20");
    EXPECT_EQ(scope_.recorder.warnings(), Strings{"Curve file was created for an older version of "
                                                  "Tessaly -- some settings may assigned default "
                                                  "values"});
    EXPECT_TRUE(!check_curve_extension(path) && check_curve_extension(file("tone.crv")));
    EXPECT_EQ(scope_.recorder.errors(), Strings{"Curve files must have an extension of .curve"});

    const std::string body = "npts 2\r\nstyle spline\r\npoint 0 0 0\r\npoint 1 255 255\r\n";
    const Curve kept = make_curve(curve_linear, {{1, 2}, {3, 4}});
    for (const std::string& content :
         Strings{"ColorCurves 1.0\r\n" + body + "end\r\n", "Curve\r\n" + body + "end\r\n",
                 "Curve 1.0\r\n" + body, "Curve 1.0\r\nnpts 257\r\nend\r\n",
                 "Curve 1.0\r\n" + body + "point 256 0 0\r\nend\r\n",
                 "Curve 1.0\r\nnpts 3\r\npoint 0 0 0\r\npoint 1 255 255\r\nend\r\n",
                 "Curve 1.0\r\nnpts 2\r\npoint 0 9 0\r\npoint 1 9 255\r\nend\r\n",
                 "Curve 1.0\r\nnpts 2\r\nstyle wavy\r\npoint 0 0 0\r\npoint 1 255 255\r\nend\r\n",
                 "Curve 1.0\r\npoint 0 0 0\r\npoint 1 255 255\r\nend\r\n", std::string()}) {
        expect_refused(load_curve_file, kept, path, content, "Cannot read curve file: " + path);
    }
    RecordingScope scope;
    put_file(path, "Curve 1.5\r\n" + body + "end\r\n");
    EXPECT_TRUE(load_curve_file(path, back) && load_curve_file(file("missing.curve"), back) &&
                save_curve_file(file("no/such/folder.curve"), back));
    EXPECT_EQ(curve_to_text(back), "2 1 10 30 200 20");
    EXPECT_EQ(scope.recorder.warnings(), Strings{"Curve file was created for a newer version of "
                                                 "Tessaly -- some settings may be ignored"});
    EXPECT_EQ(scope.recorder.errors(),
              (Strings{"Cannot open curve file: " + file("missing.curve"),
                       "Cannot create curve file: " + file("no/such/folder.curve")}));
}

TEST_F(CurveFiles, ColorCurvesAndFloatCurveFiles) {
    const std::string path = file("look.cc");
    ColorCurves small, back;
    small.colorspace = colorspace_hsl;
    small.curve[1] = make_curve(curve_step, {{0, 10}, {255, 20}});
    ASSERT_FALSE(save_color_curves_any(path, small));
    EXPECT_EQ(file_text(path),
              "\xEF\xBB\xBF"
              "ColorCurves 1.0\r\ncolorspace 1\r\n"
              "npts1 2\r\nstyle1 spline\r\npoint1 0 0 0\r\npoint1 1 255 255\r\n"
              "npts2 2\r\nstyle2 step\r\npoint2 0 0 10\r\npoint2 1 255 20\r\n"
              "npts3 2\r\nstyle3 spline\r\npoint3 0 0 0\r\npoint3 1 255 255\r\nend\r\n");
    ASSERT_FALSE(load_color_curves_file(path, back));
    EXPECT_EQ(describe(back), describe(small));

    std::string c[4];
    for (int n = 1; n <= 3; ++n)
        c[n] = formatted("npts%d 2\r\npoint%d 0 0 0\r\npoint%d 1 255 255\r\n", n, n, n);
    for (const std::string& content :
         {"ColorCurves 1.0\r\ncolorspace 3\r\n" + c[1] + c[2] + c[3] + "end\r\n",
          "ColorCurves 1.0\r\n" + c[1] + c[2] + "end\r\n",
          "ColorCurves 1.0\r\n" + c[1] + c[2] + c[3],
          "ColorCurves 1.0\r\nnpts2 300\r\n" + c[1] + c[3] + "end\r\n",
          "Curve 1.0\r\n" + c[1] + c[2] + c[3] + "end\r\n"}) {
        expect_refused(load_color_curves_file, small, path, content,
                       "Cannot read color curves file: " + path);
    }

    const std::string float_path = file("fade.float curve");
    FloatCurve f, float_back;
    f.npts = 3;
    f.style = curve_linear;
    f.x[1] = 0.25, f.y[1] = 1.0 / 3, f.x[2] = 1.0, f.y[2] = 0.5;
    ASSERT_FALSE(save_float_curve_file(float_path, f));
    EXPECT_EQ(file_text(float_path),
              "\xEF\xBB\xBF"
              "FloatCurve 1.0\r\nnpts 3\r\nstyle linear\r\n"
              "point 0 0.0000 0.0000\r\npoint 1 0.2500 0.3333\r\n"
              "point 2 1.0000 0.5000\r\nend\r\n");
    ASSERT_FALSE(load_float_curve_file(float_path, float_back));
    EXPECT_EQ(float_curve_to_text(float_back),
              "3 1 0.000000 0.000000 0.250000 0.333300 1.000000 0.500000");
    EXPECT_TRUE(!check_float_curve_extension(float_path) && scope_.recorder.messages.empty());
    for (const char* content :
         {"FloatCurve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1.5 1\r\nend\r\n",
          "FloatCurve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1 1\r\n",
          "FloatCurve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1 x\r\nend\r\n",
          "Curve 1.0\r\nnpts 2\r\npoint 0 0 0\r\npoint 1 1 1\r\nend\r\n"}) {
        expect_refused(load_float_curve_file, f, float_path, content,
                       "Cannot read float curve file: " + float_path);
    }

    EXPECT_TRUE(load_color_curves_any(file("none.cc"), back) &&
                load_color_curves_any(file("look.txt"), back) &&
                save_color_curves_file(file("no/dir.cc"), small) &&
                load_float_curve_file(file("none.float curve"), float_back) &&
                save_float_curve_file(file("no/dir.float curve"), f) &&
                check_float_curve_extension(file("fade.curve")));
    EXPECT_EQ(scope_.recorder.errors(),
              (Strings{"Cannot open color curves file: " + file("none.cc"),
                       "Unrecognized file extension: .txt",
                       "Cannot create color curves file: " + file("no/dir.cc"),
                       "Cannot open float curve file: " + file("none.float curve"),
                       "Cannot create float curve file: " + file("no/dir.float curve"),
                       "Float curve files must have an extension of .float curve"}));
}

std::string words(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v >> 8), out += static_cast<char>(v & 255);
    return out;
}

TEST_F(CurveFiles, PhotoshopAndAmpImports) {
    const std::string acv = file("p.acv");
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
    EXPECT_TRUE(scope_.recorder.errors().empty());
    // Version 2, two curves, truncated, inputs not increasing, an output out of range.
    for (const std::string& bytes :
         {words({2, 1, 2, 0, 0, 255, 255}), words({1, 2, 2, 0, 0, 255, 255}),
          words({1, 1, 2, 0, 0, 255}), words({1, 1, 2, 0, 9, 255, 9}),
          words({1, 1, 2, 0, 0, 300, 255}), words({1, 1, 1, 0, 0}), std::string("\x00", 1)}) {
        expect_refused(load_color_curves_any, c, acv, bytes,
                       "Cannot read color curves file: " + acv);
    }

    const std::string amp = file("t.amp");
    std::string tables(768, '\0');
    for (int i = 0; i < 768; ++i) tables[i] = static_cast<char>((i * 7 + i / 256 * 50) & 255);
    put_file(amp, tables);
    ASSERT_FALSE(load_color_curves_any(amp, c));
    EXPECT_EQ(tables_of(c), std::vector<std::uint8_t>(tables.begin(), tables.end()));
    expect_refused(load_amp_file, c, amp, tables.substr(1),
                   "Cannot read color curves file: " + amp);
}

TEST_F(CurveFiles, CubeExportAndImport) {
    const std::string path = file("look.cube");
    ColorCurves curves, back;
    curves.colorspace = colorspace_rgb;
    curves.curve[0] = make_curve(curve_spline, {{0, 0}, {64, 160}, {255, 255}});
    curves.curve[1] = make_curve(curve_linear, {{0, 255}, {255, 0}});
    curves.curve[2] = make_curve(curve_step, {{0, 10}, {100, 90}, {200, 240}, {255, 255}});
    ASSERT_FALSE(save_color_curves_any(path, curves));
    const std::string text = file_text(path);
    // No mark; "%5zf" drops trailing zeros and the point of whole numbers.
    EXPECT_TRUE(text.starts_with(
        "DOMAIN_MIN 0 0 0\r\nDOMAIN_MAX 1 1 1\r\nLUT_1D_SIZE 256\r\n0 1 0.03922\r\n"));
    EXPECT_TRUE(text.ends_with("\r\n1 0 0.94118\r\n") &&
                std::count(text.begin(), text.end(), '\n') == 259);
    back.colorspace = colorspace_hsv;
    ASSERT_FALSE(load_color_curves_any(path, back));
    EXPECT_TRUE(back.colorspace == colorspace_rgb && tables_of(back) == tables_of(curves));

    // A small table with comments, a title, a mark and a domain.
    put_file(path,
             "\xEF\xBB\xBF# made by hand\nTITLE \"two\"\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 0.5\n"
             "LUT_1D_SIZE 2\n\n0 0.2 0\n1 0.6 1\n");
    ASSERT_FALSE(load_cube_file(path, back));
    std::vector<std::uint8_t> expected(768);
    for (int v = 0; v < 256; ++v) {
        expected[v] = static_cast<std::uint8_t>(v);
        expected[256 + v] = static_cast<std::uint8_t>(std::lround(51 + 0.4 * v));
        expected[512 + v] = static_cast<std::uint8_t>(std::min(255, 2 * v));
    }
    EXPECT_EQ(tables_of(back), expected);
    EXPECT_TRUE(scope_.recorder.errors().empty());

    const std::pair<std::string, std::string> bad[] = {
        {"LUT_3D_SIZE 17\n", "Cannot load 3-D cube file"},
        {"LUT_1D_SIZE 1\n0 0 0\n", "LUT size out of range (2 .. 1024): 1"},
        {"LUT_1D_SIZE 1025\n", "LUT size out of range (2 .. 1024): 1025"},
        {"0 0 0\n", "Missing LUT_1D_SIZE"},
        {"# nothing\n", "Missing LUT_1D_SIZE"},
        {"LUT_1D_SIZE 2\n0 0 0\nzero 0 0\n", "Illegal R channel value: zero"},
        {"LUT_1D_SIZE 2\n0 x 0\n1 1 1\n", "Illegal G channel value: x"},
        {"LUT_1D_SIZE 2\n0 0\n1 1 1\n", "Illegal B channel value: "},
        {"LUT_1D_SIZE 3\n0 0 0\n1 1 1\n", "Unexpected end of file"},
        {"DOMAIN_MAX 0 1 1\nLUT_1D_SIZE 2\n0 0 0\n1 1 1\n",
         "Cannot read color curves file: " + path}};
    for (const auto& [content, message] : bad) {
        expect_refused(load_color_curves_any, back, path, content, message);
    }

    RecordingScope scope;
    curves.colorspace = colorspace_hsv;
    EXPECT_TRUE(save_cube_file(file("hsv.cube"), curves) &&
                !std::filesystem::exists(file("hsv.cube")));
    EXPECT_EQ(scope.recorder.errors(), Strings{"Only RGB curves can be saved as a cube file"});
}

}  // namespace
}  // namespace tessaly
