// The image window's display path: 16-bit pictures without banding, clipped pixels marked,
// proofing and the gamut alarm with the proofing question, large pictures shown first as a
// preview and drawn far zoomed out from halved copies, the full-screen zoom keys, and the
// monitor profile read from a real X server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "color/color_settings.h"
#include "color/profiles.h"
#include "core/image.h"
#include "core/tables.h"
#include "core/text_file.h"
#include "fileio/image_write.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/image_view.h"
#include "shell/monitor_profile.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"
#include "workspace/preferences.h"
#include "workspace/session_state.h"

#ifdef TESSALY_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace tessaly::shell {
namespace {

using tessaly::testing::RecordingInteraction;
using tessaly::testing::TempDir;

constexpr QRgb magenta = 0xffff00ff;

// An image whose pixel (x, y from the top) is f(x, y) as blue, green, red samples.
template <typename F>
Image made(std::uint32_t type, std::uint32_t width, std::uint32_t height, F f) {
    Image image;
    EXPECT_FALSE(image_alloc(image, type, width, height, 72));
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = image.rows[height - 1 - y];
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto [b, g, r] = f(x, y);
            if (type == image_color24) {
                row[3 * x] = std::uint8_t(b), row[3 * x + 1] = std::uint8_t(g);
                row[3 * x + 2] = std::uint8_t(r);
            } else if (type == image_color48) {
                auto* s = reinterpret_cast<std::uint16_t*>(row) + 3 * x;
                s[0] = std::uint16_t(b), s[1] = std::uint16_t(g), s[2] = std::uint16_t(r);
            } else if (type == image_gray16) {
                reinterpret_cast<std::uint16_t*>(row)[x] = std::uint16_t(g);
            }
        }
    }
    return image;
}

void keep_screenshot(QWidget* widget, const char* name) {
    const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR");
    if (!folder.isEmpty()) widget->grab().save(QString::fromUtf8(folder) + "/" + name);
}

class Display : public ::testing::Test {
  protected:
    void TearDown() override {
        close_all_images();
        set_display_proofing(false);
        session_state().show_clipped_shadows = session_state().show_clipped_highlights = 0;
        preferences() = Preferences{};
        clear_color_profiles();
        color_settings() = ColorManagementSettings{};
    }
    // Opens a picture written as a TIFF into the frame and waits for the window to show it.
    void open(FrameWindow& frame, const Image& image) {
        const std::string path = folder.file("picture" + std::to_string(++files) + ".tif");
        ASSERT_FALSE(write_tiff_file(path, image, 0, 0));
        frame.open_file(path);
        frame.engine().wait_idle();
        ASSERT_FALSE(frame.view()->picture().isNull());
    }
    RecordingInteraction record;
    TempDir folder;
    int files = 0;
};

TEST_F(Display, SixteenBitRampsRoundToTheNearestLevelWithoutWideSteps) {
    const auto ramp = [](std::uint32_t x, std::uint32_t) {
        const int v = int(x * 16 + x / 256);  // 0 .. 65535 over 4096 pixels
        return std::array{v, v, v};
    };
    for (std::uint32_t type : {image_gray16, image_color48}) {
        const QImage shown = display_picture(made(type, 4096, 1, ramp));
        ASSERT_EQ(shown.size(), QSize(4096, 1));
        int widest = 0;
        std::vector<bool> seen(256);
        for (int x = 0; x < shown.width(); ++x) {
            const int level = qGreen(shown.pixel(x, 0));
            EXPECT_EQ(level, to8_value(std::uint32_t(ramp(std::uint32_t(x), 0)[0]))) << x;
            if (x > 0) widest = std::max(widest, level - qGreen(shown.pixel(x - 1, 0)));
            seen[std::size_t(level)] = true;
        }
        EXPECT_EQ(widest, 1);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
    }
}

TEST_F(Display, CtrlDStepsTheClippedPixelMarksThroughTheirPreferenceColours) {
    preferences().clipped_shadows_color = {0, 0, 255};
    preferences().clipped_highlights_color = {255, 0, 0};
    // Left to right: a shadow in one channel, a highlight in one, both, and neither.
    const std::array<std::array<int, 3>, 4> pixels{
        {{0, 30000, 30000}, {30000, 65535, 30000}, {0, 65535, 30000}, {1, 30000, 65534}}};
    const Image image =
        made(image_color48, 4, 1, [&](std::uint32_t x, std::uint32_t) { return pixels[x]; });
    FrameWindow frame(&record);
    frame.show();
    open(frame, image);
    const QImage unmarked = frame.view()->picture();
    const QRgb p0 = unmarked.pixel(0, 0), p1 = unmarked.pixel(1, 0), p2 = unmarked.pixel(2, 0);
    const QRgb plain = unmarked.pixel(3, 0);
    EXPECT_EQ(plain, qRgb(to8_value(65534), to8_value(30000), to8_value(1)));
    const QRgb blue = qRgb(0, 0, 255), red = qRgb(255, 0, 0);
    // Shadows, highlights (which win where both are), both, none again.
    const std::vector<std::array<QRgb, 4>> expected{{blue, p1, blue, plain},
                                                    {p0, red, red, plain},
                                                    {blue, red, red, plain},
                                                    {p0, p1, p2, plain}};
    for (std::size_t step = 0; step < expected.size(); ++step) {
        frame.command(command_display_mode);
        frame.engine().wait_idle();
        const QImage& shown = frame.view()->picture();
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(shown.pixel(x, 0), expected[step][std::size_t(x)])
                << "step " << step << ", pixel " << x;
        }
    }
    EXPECT_EQ(session_state().show_clipped_shadows, 0);
    EXPECT_TRUE(record.messages.empty());
}

TEST_F(Display, ProofingShowsTheGamutAlarmAndAsksBeforeTheAlarmNeedsIt) {
    const std::string wide = find_profile_file("ProPhotoRGB.icc");
    if (wide.empty() || find_profile_file("sRGB.icc").empty()) {
        GTEST_SKIP() << "needs ProPhotoRGB.icc (colord-data) and sRGB.icc (icc-profiles-free)";
    }
    std::string wide_bytes;
    ASSERT_FALSE(read_file_bytes(wide, wide_bytes));
    // A ProPhoto picture: the hues left to right, saturated above (much of it outside sRGB)
    // and pale below (inside).
    Image image = made(image_color24, 360, 120, [](std::uint32_t x, std::uint32_t y) {
        const QColor c = QColor::fromHsv(int(x), y < 60 ? 255 : 60, 230);
        return std::array{c.blue(), c.green(), c.red()};
    });
    ASSERT_FALSE(image_set_profile(image, reinterpret_cast<const std::uint8_t*>(wide_bytes.data()),
                                   std::uint32_t(wide_bytes.size())));
    apply_color_settings({.enabled = 1,
                          .monitor_profile = "sRGB.icc",
                          .monitor_on_startup = monitor_named,
                          .proof_profile = "sRGB.icc",
                          .gamut_alarm_color = {255, 0, 255}});
    FrameWindow frame(&record);
    frame.resize(700, 400);
    frame.show();
    open(frame, image);
    ImageView* view = frame.view();
    auto green = [&] { return view->picture().pixel(120, 10); };
    auto gray = [&] { return view->picture().pixel(120, 100); };
    const QRgb unproofed = green();
    EXPECT_NE(unproofed, magenta);

    // The display button: proofing, then proofing with the alarm, then neither.
    frame.command(command_display_button);
    frame.engine().wait_idle();
    EXPECT_TRUE(display_proofing() && view->proofing());
    EXPECT_NE(green(), magenta);
    keep_screenshot(view, "proofing.png");
    frame.command(command_display_button);
    frame.engine().wait_idle();
    EXPECT_EQ(green(), magenta);
    EXPECT_NE(gray(), magenta);
    EXPECT_EQ(color_settings().gamut_alarm, 1);
    std::string saved;
    ASSERT_FALSE(read_text_file(color_settings_path(), saved));
    EXPECT_NE(saved.find("gamutalarm 1"), std::string::npos);
    keep_screenshot(view, "gamut-alarm.png");
    frame.command(command_display_button);
    frame.engine().wait_idle();
    EXPECT_FALSE(display_proofing());
    EXPECT_EQ(color_settings().gamut_alarm, 0);
    EXPECT_EQ(green(), unproofed);
    EXPECT_TRUE(record.questions.empty());

    // The alarm needs proofing: No leaves both off, Yes turns both on.
    const std::string question = "Alert: Proofing is currently disabled. Enable it now?";
    record.answers = {Answer::no};
    view->set_gamut_alarm(true);
    frame.engine().wait_idle();
    EXPECT_EQ(record.questions, std::vector<std::string>{question});
    EXPECT_FALSE(display_proofing());
    EXPECT_EQ(color_settings().gamut_alarm, 0);
    EXPECT_EQ(green(), unproofed);
    record.answers = {Answer::yes};
    view->set_gamut_alarm(true);
    frame.engine().wait_idle();
    EXPECT_EQ(record.questions.size(), 2u);
    EXPECT_TRUE(display_proofing() && view->proofing() && view->gamut_alarm());
    EXPECT_EQ(green(), magenta);
}

TEST_F(Display, ALargePictureComesAsAPreviewThenWholeAndFarOutIsDrawnFromHalvedCopies) {
    // Four flat quarters and a gradient band: a shift or a wrong scale shows at once.
    auto pattern = [](std::uint32_t x, std::uint32_t y) {
        if (y > 1200 && y < 1400) return std::array{int(x * 255 / 3599), 90, 200};
        const bool right = x >= 1800, low = y >= 1300;
        return std::array{right ? 220 : 20, low ? 200 : 40, right == low ? 250 : 10};
    };
    const Image image = made(image_color24, 3600, 2600, pattern);
    const QImage preview = window_picture(image);
    EXPECT_EQ(full_size(preview), QSize(3600, 2600));
    ASSERT_EQ(preview.size(), QSize(1800, 1300));  // every second pixel
    for (auto [x, y] : {std::pair{0, 0}, {1799, 1299}, {900, 650}, {1000, 640}}) {
        const auto p = pattern(std::uint32_t(2 * x), std::uint32_t(2 * y));
        EXPECT_EQ(preview.pixel(x, y), qRgb(p[2], p[1], p[0])) << x << "," << y;
    }

    preferences().smooth_zoom = 1;
    FrameWindow frame(&record);
    frame.resize(1000, 700);
    frame.show();
    open(frame, image);
    ImageView* view = frame.view();
    // The whole picture follows the preview's first paint.
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->picture().size() == QSize(3600, 2600); }));
    frame.engine().wait_idle();
    EXPECT_EQ(view->image_size(), QSize(3600, 2600));
    ASSERT_FALSE(view->reduced().empty());
    EXPECT_EQ(view->reduced()[0].size(), QSize(1800, 1300));
    EXPECT_LT(view->zoom(), 0.25);
    // What is drawn from the halved copies looks like the whole picture scaled smoothly.
    const QImage drawn = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QSize shown(int(std::lround(3600 * view->zoom())), int(std::lround(2600 * view->zoom())));
    const QPoint origin((drawn.width() - shown.width()) / 2, (drawn.height() - shown.height()) / 2);
    const QImage expected =
        view->picture().scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double difference = 0;
    for (int y = 2; y < shown.height() - 2; ++y) {
        for (int x = 2; x < shown.width() - 2; ++x) {
            const QRgb a = drawn.pixel(origin.x() + x, origin.y() + y), b = expected.pixel(x, y);
            difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                          std::abs(qBlue(a) - qBlue(b));
        }
    }
    EXPECT_LT(difference / (3.0 * (shown.width() - 4) * (shown.height() - 4)), 3.0);
}

TEST_F(Display, TheSecondZoomModeWorksInFullScreenOnly) {
    FrameWindow frame(&record);
    frame.resize(900, 600);
    frame.show();
    open(frame, made(image_color24, 800, 300, [](std::uint32_t x, std::uint32_t) {
             return std::array{int(x & 255), 0, 0};
         }));
    ImageView* view = frame.view();
    const double fitted = view->zoom();
    for (std::uint32_t id : {command_fine_zoom_in, command_fine_zoom_out, command_fill_toggle}) {
        frame.command(id);
    }
    EXPECT_EQ(view->zoom(), fitted);
    frame.showFullScreen();
    QTest::qWait(50);
    // A fitted picture is fitted again to the larger window.
    const double refitted = view->zoom();
    EXPECT_EQ(refitted, view->fitted_zoom());
    frame.command(command_fine_zoom_in);
    EXPECT_NEAR(view->zoom(), refitted * std::pow(2.0, 1.0 / 8), 1e-9);
    // As the keypad's *: 1:1 from any other zoom, and from 1:1 filling the screen.
    frame.command(command_fill_toggle);
    EXPECT_EQ(view->zoom(), 1.0);
    frame.command(command_fill_toggle);
    const QSize viewport = view->viewport()->size();
    EXPECT_DOUBLE_EQ(view->zoom(), std::max(viewport.width() / 800.0, viewport.height() / 300.0));
}

// Under a real X server (ctest's shell.x11 runs these under xvfb-run): the root window's
// _ICC_PROFILE becomes the monitor profile "from System Settings".
TEST(X11MonitorProfile, TheRootWindowsProfileIsWrittenAndTakenOnStartUp) {
#ifndef TESSALY_HAVE_XCB
    GTEST_SKIP() << "built without xcb (libxcb1-dev)";
#else
    if (QGuiApplication::platformName() != "xcb") {
        GTEST_SKIP() << "needs an X server: run under xvfb-run with QT_QPA_PLATFORM=xcb (ctest "
                        "runs it as shell.x11)";
    }
    const std::string srgb = find_profile_file("sRGB.icc");
    if (srgb.empty()) GTEST_SKIP() << "no sRGB.icc among the profiles";
    std::string bytes;
    ASSERT_FALSE(read_file_bytes(srgb, bytes));
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 12, "_ICC_PROFILE"), nullptr);
    ASSERT_NE(atom, nullptr);
    const xcb_atom_t name = atom->atom;
    std::free(atom);
    auto set_property = [&](std::string_view value) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, name, XCB_ATOM_CARDINAL, 8,
                            std::uint32_t(value.size()), value.data());
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // a round trip
    };

    set_property(bytes);
    SystemMonitorProfile found = x11_monitor_profile(c, 0);
    EXPECT_EQ(found.result, SystemMonitorProfile::Result::found);
    EXPECT_EQ(found.path, monitor_profile_file());
    std::string written;
    ASSERT_FALSE(read_file_bytes(monitor_profile_file(), written));
    EXPECT_EQ(written, bytes);

    // Through the program's own connection, as at start-up.
    install_monitor_profile_query();
    ColorManagementSettings settings;
    take_system_monitor_profile(settings);
    EXPECT_EQ(settings.monitor_profile, monitor_profile_file());
    EXPECT_EQ(settings.monitor_on_startup, monitor_from_system);

    set_property({});
    EXPECT_EQ(x11_monitor_profile(c, 0).result, SystemMonitorProfile::Result::none);
    set_monitor_profile_query(nullptr);
    xcb_delete_property(c, root, name);
    xcb_disconnect(c);
#endif
}

}  // namespace
}  // namespace tessaly::shell
