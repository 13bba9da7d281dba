#include "core/curve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "core/format.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"

namespace tessaly {
namespace {

using testing::make_curve;

std::vector<std::uint8_t> table8(const Curve& c) {
    std::vector<std::uint8_t> t(256);
    curve_table8(c, t.data());
    return t;
}

std::vector<std::uint16_t> table16(const Curve& c, bool points_are_16bit = false) {
    std::vector<std::uint16_t> t(65536);
    curve_table16(c, t.data(), points_are_16bit);
    return t;
}

int rounded(double v) {
    return static_cast<int>(std::lround(v));
}

// Both tables of c against f(v, top), top being 255 or 65535.
template <class F>
void expect_tables(const Curve& c, F f) {
    const auto t8 = table8(c);
    const auto t16 = table16(c);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(t8[v], f(v, 255)) << v;
    for (int v = 0; v < 65536; ++v) ASSERT_EQ(t16[v], f(v, 65535)) << v;
}

// The three-point shape function and its bisection, written out independently of the library.
double reference_shape(double s, double g) {
    if (s == 0.0 || g == 0.0) return 0.0;
    if (s == 1.0) return 1.0;
    if (g < 1.0) return 1.0 - std::pow(1.0 - std::pow(s, 1.0 / g), g);
    if (g > 1.0) return std::pow(1.0 - std::pow(1.0 - s, g), 1.0 / g);
    return s;
}

double reference_shape_parameter(double p, double q) {
    if (p == q) return 1.0;
    const double a = p > q ? p : q, b = p > q ? q : p;
    double low = 0.0, high = 1.0, s = 0.5;
    for (int i = 0; i < 20; ++i) {
        (reference_shape(a, s) >= b ? high : low) = s;
        s = (low + high) / 2.0;
    }
    return q > p ? 1.0 / s : s;
}

// The smooth curve at input v on a scale of top (255 or 65535), the points lifted to it.
int reference_smooth(const Curve& c, int v, int top) {
    const double k = top / 255.0;
    const double x0 = c.x[0] * k, x2 = c.x[2] * k, y0 = c.y[0] * k, y2 = c.y[2] * k;
    const double w = x2 - x0, h = y2 - y0;
    const double g = reference_shape_parameter((c.x[1] * k - x0) / w, (c.y[1] * k - y0) / h);
    double value = reference_shape((v - x0) / w, g) * h + y0;
    if (v < x0) value = y0 + (v - x0) * reference_shape(2.0 / w, g) * h / 2.0;
    if (v > x2) value = y2 + (v - x2) * (1.0 - reference_shape(1.0 - 2.0 / w, g)) * h / 2.0;
    return rounded(std::clamp(value, 0.0, static_cast<double>(top)));
}

TEST(Curve, IdentityLinearAndStep) {
    Curve c = make_curve(curve_linear, {{0, 10}, {100, 20}});
    curve_reset(c);
    EXPECT_TRUE(curve_is_identity(c));
    expect_tables(c, [](int v, int) { return v; });
    c.style = curve_linear;  // same points, another style: not skipped
    EXPECT_FALSE(curve_is_identity(c));
    // Points already on the 16-bit scale are used as they are.
    Curve wide = make_curve(curve_spline, {{0, 0}, {30, 100}, {128, 140}, {255, 255}}),
          lifted = wide;
    for (int i = 0; i < wide.npts; ++i) wide.x[i] *= 257, wide.y[i] *= 257;
    EXPECT_EQ(table16(lifted, false), table16(wide, true));

    // Linear: the end segments extend and clamp; 127.5 rounds up.
    expect_tables(make_curve(curve_linear, {{64, 0}, {192, 255}}), [](int v, int top) {
        return rounded(std::clamp((v - 64.0 * top / 255) / (128.0 * top / 255), 0.0, 1.0) * top);
    });
    auto broken = table8(make_curve(curve_linear, {{0, 255}, {100, 55}, {200, 155}, {255, 0}}));
    EXPECT_EQ(std::vector<int>({broken[50], broken[150], broken[254]}),
              std::vector<int>({155, 105, 3}));
    // Step: a segment keeps its left output up to the last input; the last output only beyond.
    expect_tables(make_curve(curve_step, {{0, 0}, {128, 200}, {255, 255}}),
                  [](int v, int top) { return v < 128 * top / 255 ? 0 : 200 * top / 255; });
    auto inner = table8(make_curve(curve_step, {{50, 30}, {100, 90}, {200, 220}}));
    EXPECT_EQ(std::vector<int>({inner[0], inner[200], inner[201]}),
              std::vector<int>({30, 90, 220}));
}

TEST(Curve, ThreePointSplinesAndGamma) {
    // Middle point between the ends: the smooth shape, against the reference in both depths,
    // including the extensions beyond the end points and a falling curve; p = q is a line.
    for (const Curve& c : {make_curve(curve_spline, {{0, 0}, {128, 128}, {255, 255}}),
                           make_curve(curve_spline, {{0, 0}, {64, 160}, {255, 255}}),
                           make_curve(curve_spline, {{0, 0}, {190, 60}, {255, 255}}),
                           make_curve(curve_spline, {{32, 40}, {100, 180}, {220, 230}}),
                           make_curve(curve_spline, {{20, 250}, {100, 60}, {240, 10}})}) {
        expect_tables(c, [&](int v, int top) { return reference_smooth(c, v, top); });
    }
    // Middle point above both ends: the Hermite spline, flat at its top.
    auto peak = table8(make_curve(curve_spline, {{0, 0}, {128, 200}, {255, 100}}));
    EXPECT_EQ(peak[128], 200);
    EXPECT_TRUE(std::is_sorted(peak.begin(), peak.begin() + 129));
    EXPECT_TRUE(std::is_sorted(peak.begin() + 128, peak.end(), std::greater<>()));

    // Gamma follows the power formula.
    const double e = std::log(128.0 / 255) / std::log(64.0 / 255);
    expect_tables(make_curve(curve_gamma, {{0, 0}, {64, 128}, {255, 255}}),
                  [&](int v, int top) { return rounded(std::pow(v / double(top), e) * top); });
    // Below the first point it holds y[0]; beyond the last the formula goes on.
    auto inner = table8(make_curve(curve_gamma, {{40, 20}, {100, 60}, {200, 150}}));
    EXPECT_EQ(inner[10], 20);
    EXPECT_EQ(inner[240],
              rounded(std::pow(1.25, std::log(40.0 / 130) / std::log(0.375)) * 130 + 20));
    // An exponent of exactly 1 falls back to the broken line.
    auto one = table8(make_curve(curve_gamma, {{0, 0}, {100, 100}, {200, 200}}));
    for (int v = 0; v < 256; ++v) ASSERT_EQ(one[v], v);
}

TEST(Curve, ManyPointSplineIsMonotoneAndHitsItsPoints) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> any(0, 255);
    for (int trial = 0; trial < 200; ++trial) {
        // Random strictly increasing inputs and non-decreasing outputs, sometimes flat.
        Curve c;
        c.style = trial % 2 ? curve_spline : curve_gamma;
        c.npts = 4 + static_cast<int>(random() % 12);
        std::vector<int> xs, ys;
        while (static_cast<int>(xs.size()) < c.npts) {
            const int x = any(random);
            if (std::find(xs.begin(), xs.end(), x) == xs.end()) xs.push_back(x);
        }
        for (int i = 0; i < c.npts; ++i)
            ys.push_back(trial % 5 == 0 ? any(random) / 32 * 32 : any(random));
        std::sort(xs.begin(), xs.end());
        std::sort(ys.begin(), ys.end());
        for (int i = 0; i < c.npts; ++i) c.x[i] = xs[i], c.y[i] = ys[i];
        auto t = table8(c);
        for (int i = 0; i < c.npts; ++i) ASSERT_EQ(t[c.x[i]], c.y[i]) << trial;
        ASSERT_TRUE(std::is_sorted(t.begin(), t.end())) << trial;
        // The 16-bit table evaluates the same function: at v x 257 it agrees with the 8-bit one.
        auto t16 = table16(c);
        ASSERT_TRUE(std::is_sorted(t16.begin(), t16.end())) << trial;
        for (int v = 0; v < 256; ++v) ASSERT_NEAR(t16[v * 257], t[v] * 257, 129) << trial;
    }
}

TEST(Curve, TextFormsRoundTripAndRefuseMalformedText) {
    Curve c = make_curve(curve_gamma, {{0, 5}, {77, 140}, {255, 250}}), back;
    const std::string text = curve_to_text(c);
    EXPECT_EQ(text, "3 3 0 5 77 140 255 250");
    EXPECT_FALSE(curve_from_text(text, back));
    EXPECT_EQ(curve_to_text(back), text);
    EXPECT_FALSE(curve_from_text("  2\t1 0 0   255 255 ", back));  // blanks and tabs separate
    EXPECT_EQ(curve_to_text(back), "2 1 0 0 255 255");
    for (const char* bad :
         {"", "2", "2 2 0 0 255", "2 2 0 0 255 x", "2 2 0 0 255 255 7", "1 2 0 0", "257 2 0 0",
          "2 4 0 0 255 255", "2 -1 0 0 255 255", "3 2 0 0 10 5 10 255", "2 2 0 0 255 99999999999",
          "2.0 2 0 0 255 255"}) {
        Curve kept = c;
        EXPECT_TRUE(curve_from_text(bad, kept)) << bad;
        EXPECT_EQ(curve_to_text(kept), text) << bad;
    }

    FloatCurve f;
    f.npts = 3;
    f.x[1] = 0.5, f.y[1] = 0.75, f.x[2] = f.y[2] = 1.0;
    // Plain separators even when the user's locale writes a decimal comma.
    set_locale_characters(U',', U'.');
    set_locale_separators();
    const std::string float_text = float_curve_to_text(f);
    FloatCurve float_back;
    const bool failed = float_curve_from_text(float_text, float_back);
    set_plain_separators();
    EXPECT_EQ(float_text, "3 2 0.000000 0.000000 0.500000 0.750000 1.000000 1.000000");
    EXPECT_FALSE(failed);
    EXPECT_EQ(float_curve_to_text(float_back), float_text);
    for (const char* bad : {"", "3 2 0 0 0.5", "2 2 0 0 1.5 1", "2 2 0.5 0 0.5 1", "2 9 0 0 1 1",
                            "2 2 0 0 1 1 1", "2 2 0 0 1 y"}) {
        FloatCurve kept = f;
        EXPECT_TRUE(float_curve_from_text(bad, kept)) << bad;
        EXPECT_EQ(float_curve_to_text(kept), float_text) << bad;
    }
}

}  // namespace
TEST(Curve, InverseExchangesInputAndOutputOrRefusesACurveThatTurns) {
    tessaly::testing::RecordingScope scope;
    Curve rising;
    rising.npts = 3;
    rising.x[1] = 64;
    rising.y[1] = 192;
    rising.x[2] = 255;
    rising.y[2] = 255;
    Curve inverse = rising;
    ASSERT_FALSE(curve_invert(inverse));
    EXPECT_EQ(curve_to_text(inverse), "3 2 0 0 192 64 255 255");
    // Twice is the curve again.
    ASSERT_FALSE(curve_invert(inverse));
    EXPECT_EQ(curve_to_text(inverse), curve_to_text(rising));

    // A falling curve: its points come back in rising order of the new inputs.
    Curve falling;
    falling.npts = 3;
    falling.x[0] = 0, falling.y[0] = 255;
    falling.x[1] = 100, falling.y[1] = 50;
    falling.x[2] = 255, falling.y[2] = 0;
    ASSERT_FALSE(curve_invert(falling));
    EXPECT_EQ(curve_to_text(falling), "3 2 0 255 50 100 255 0");
    EXPECT_TRUE(scope.recorder.messages.empty());

    // A flat stretch or a turn is refused, and the curve stays.
    Curve turning = rising;
    turning.y[2] = 100;
    const std::string before = curve_to_text(turning);
    EXPECT_TRUE(curve_invert(turning));
    EXPECT_EQ(curve_to_text(turning), before);
    ASSERT_EQ(scope.recorder.messages.size(), 1u);
    EXPECT_EQ(scope.recorder.messages[0].text,
              "Inverse requires steadily increasing or decreasing curve");
}

}  // namespace tessaly
