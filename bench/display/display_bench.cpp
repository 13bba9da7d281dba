// The desktop program's figures, measured on its own windows (not timed tests):
//
//   start     a 24-megapixel JPEG from process start (as a double click starts it) to the image
//             window's first paint with the picture, against `tessaly-cli FILE` reading it;
//   zoom      frame times of zooming and scrolling a 24-megapixel 16-bit image;
//   gaps      the longest pause of the interface's event loop while Gaussian Blur runs on the
//             engine's thread over 24 megapixels;
//   browser   the Image Browser laying out and drawing 300 nodes;
//   preview   a dialog's change of a setting to its first look and its whole result drawn in
//             the image window, on 24 megapixels at 8 and 16 bits, against the same
//             transformation in tessaly-cli.
//
//   display_bench [RUNS] [start|zoom|gaps|browser|preview ...]      (default 7 runs, everything)
//
// Offscreen platform unless QT_QPA_PLATFORM says otherwise; every run has a settings root of its
// own. Prints medians in milliseconds and the load average before and after.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/engine.h"
#include "core/arguments.h"
#include "core/format.h"
#include "fileio/image_file.h"
#include "framework/console_interaction.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "shell/application.h"
#include "shell/display_picture.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/image_view.h"
#include "shell/monitor_profile.h"
#include "shell/preview_proxy.h"
#include "shell/resize_panel.h"
#include "shell/sharpen_panels.h"
#include "shell/single_instance.h"
#include "shell/start_session.h"
#include "shell/transformation_dialog.h"
#include "tree/dialog_session.h"
#include "tree/tree.h"
#include "workspace/startup.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace tessaly;
using Clock = std::chrono::steady_clock;

const char* const wallpaper = "/usr/share/wallpapers/Path/contents/images/2560x1600.jpg";

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double highest(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

std::string load() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Starts a program with its output into a pipe; the pid, or -1.
pid_t spawn(const std::vector<std::string>& args, int& out) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out = fds[0];
    return pid;
}

// Reads the child's output until it ends or names `word`; true when it did.
bool wait_for_word(int fd, const std::string& word) {
    std::string seen;
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen.append(buffer, std::size_t(n));
        if (seen.find(word) != std::string::npos) return true;
    }
}

bool run_quietly(const std::vector<std::string>& args) {
    int out = -1;
    const pid_t pid = spawn(args, out);
    if (pid < 0) return false;
    char buffer[256];
    while (::read(out, buffer, sizeof buffer) > 0) {
    }
    ::close(out);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Folders {
    fs::path work;
    std::string bin;
    std::string cli() const { return bin + "/tessaly-cli"; }
    std::string jpeg() const { return (work / "24mp.jpg").string(); }
    std::string small() const { return (work / "small.jpg").string(); }
    std::string settings(const std::string& name) const { return (work / name).string(); }
};

// The pictures: the wallpaper scaled to 6000 x 3750 (22.5 megapixels, JPEG quality of the save
// options) and to 320 x 200.
bool make_files(const Folders& f) {
    const std::string root = "--settings-root=" + f.settings("make");
    auto resize = [](int w, int h) {
        return formatted("resize 0 pixel_w %d pixel_h %d resample 0 set 2 method 2 sharpen -0.75",
                         w, h);
    };
    return run_quietly({f.cli(), "--settings-root", f.settings("make"), wallpaper, "--apply",
                        resize(6000, 3750), "--save", f.jpeg()}) &&
           run_quietly({f.cli(), "--settings-root", f.settings("make"), wallpaper, "--apply",
                        resize(320, 200), "--save", f.small()});
}

// --- start: the child ---

// What apps/tessaly does, then "drawn" on stdout at the first paint of the image window that
// has the picture, and out.
int start_child(int argc, char** argv, const std::string& file) {
    // DISPLAY_BENCH_STAGES=1: when each stage of the start ended, in ms since main.
    const auto begun = Clock::now();
    const bool stages = std::getenv("DISPLAY_BENCH_STAGES") != nullptr;
    auto stage = [&](const char* what) {
        if (stages) std::fprintf(stderr, "%s %.0f\n", what, ms_since(begun));
    };
    QApplication app(argc, argv);
    stage("app");
    shell::prepare_application();
    shell::install_monitor_profile_query();
    init_locale_separators();
    install_engine();
    create_program_folders();
    shell::SingleInstance instance;
    if (!instance.acquire()) return 3;
    load_saved_state();
    stage("state");
    shell::FrameWindow frame;
    frame.resize(1600, 1000);
    frame.show();
    stage("shown");
    struct Watch : QObject {
        shell::ImageView* view;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && !view->picture().isNull()) {
                // After this paint is done.
                QTimer::singleShot(0, [] {
                    std::fputs("drawn\n", stdout);
                    std::fflush(stdout);
                    std::_Exit(0);
                });
            }
            return false;
        }
    } watch;
    watch.view = frame.view();
    frame.view()->viewport()->installEventFilter(&watch);
    shell::start_session(frame, file);
    stage("session");
    return app.exec();
}

void bench_start(const Folders& f, int runs) {
    const std::string self = f.bin + "/display_bench";
    std::vector<double> gui, cli;
    for (int i = 0; i <= runs; ++i) {
        const std::string root = f.settings("start" + std::to_string(i));
        auto start = Clock::now();
        int out = -1;
        pid_t pid = spawn({self, "start-child", f.jpeg(), root}, out);
        const bool drawn = pid > 0 && wait_for_word(out, "drawn");
        const double g = ms_since(start);
        if (out >= 0) ::close(out);
        if (pid > 0) ::waitpid(pid, nullptr, 0);
        start = Clock::now();
        const bool read = run_quietly({f.cli(), "--settings-root", root + "-cli", f.jpeg()});
        const double c = ms_since(start);
        if (!drawn || !read) {
            std::printf("start: run %d failed (drawn %d, read %d)\n", i, drawn, read);
            return;
        }
        if (i == 0) continue;  // warm-up: the file and the libraries in the page cache
        gui.push_back(g);
        cli.push_back(c);
    }
    std::printf("| start to drawn, 24 MP JPEG | %.0f | tessaly-cli FILE %.0f | %.2fx |\n",
                median(gui), median(cli), median(gui) / median(cli));
}

// --- in one process: zoom, gaps, browser ---

// Times every event the interface thread handles, so that a long gap can be told apart from
// the machine giving the thread no time.
class TimedApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        const auto start = Clock::now();
        const int type = event->type();
        const bool handled = QApplication::notify(receiver, event);
        const double took = ms_since(start);
        if (took > longest) {
            longest = took;
            longest_type = type;
        }
        --depth_;
        return handled;
    }
    double longest = 0;
    int longest_type = 0;

  private:
    int depth_ = 0;
};

// A frame as the person sees it, its messages on stderr.
struct BenchFrame {
    ConsoleInteraction console;
    shell::FrameWindow frame{&console};
    BenchFrame() {
        frame.resize(1600, 1000);
        frame.show();
    }
};

void wait(shell::FrameWindow& frame) {
    frame.engine().wait_idle();
    QApplication::processEvents();
}

void apply_line(shell::FrameWindow& frame, const std::string& line, int times = 1) {
    const TransformationModule* module =
        find_transformation(line.substr(0, line.find(' ')))->module;
    frame.run([module, line, times] {
        for (int i = 0; i < times; ++i) {
            auto session = DialogSession::open_new(dialog_module_info(*module), line, false);
            if (session) (void)session->ok();
        }
    });
    wait(frame);
}

// Where the start's time goes: the steps of showing a picture, each on its own.
void bench_parts(const Folders& f, int runs) {
    std::vector<double> read, picture, thumbnail, levels;
    for (int i = 0; i < runs; ++i) {
        Image image, transparency;
        auto start = Clock::now();
        if (read_image_file(f.jpeg(), image, transparency)) return;
        read.push_back(ms_since(start));
        start = Clock::now();
        const QImage shown = shell::display_picture(image);
        picture.push_back(ms_since(start));
        start = Clock::now();
        (void)shell::display_thumbnail(image, 256);
        thumbnail.push_back(ms_since(start));
        start = Clock::now();
        for (QImage level = shown; level.width() >= 512 && level.height() >= 512;) {
            level = shell::halved_picture(level);
        }
        levels.push_back(ms_since(start));
    }
    std::printf("| steps: read %.0f, display picture %.0f, thumbnail %.0f, halved copies %.0f |\n",
                median(read), median(picture), median(thumbnail), median(levels));
}

void bench_zoom(const Folders& f) {
    BenchFrame bench;
    shell::FrameWindow& frame = bench.frame;
    frame.open_file(f.jpeg());
    wait(frame);
    apply_line(frame, "convert 0 otype 5");
    shell::ImageView* view = frame.view();
    // The whole picture and its halved copies, not the preview, are what is timed.
    while (view->picture().size() != view->image_size() || view->reduced().empty() ||
           frame.engine().busy()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const QImage& picture = view->picture();
    auto frame_time = [&](auto change) {
        const auto start = Clock::now();
        change();
        view->viewport()->repaint();
        return ms_since(start);
    };
    std::vector<double> zoom_times, zoom_smooth, scroll_times;
    // Fitted, up to 4x and back, plain and smooth.
    for (int smooth = 0; smooth < 2; ++smooth) {
        view->set_smooth(smooth);
        view->set_zoom(view->fitted_zoom());
        auto& times = smooth ? zoom_smooth : zoom_times;
        while (view->zoom() < 4) times.push_back(frame_time([&] { view->zoom_in(); }));
        while (view->zoom() > view->fitted_zoom()) {
            times.push_back(frame_time([&] { view->zoom_out(); }));
        }
    }
    view->set_smooth(false);
    for (double zoom : {1.0, 0.5, 0.25}) {
        view->set_zoom(zoom);
        view->horizontalScrollBar()->setValue(0);
        for (int i = 0; i < 10; ++i) {
            scroll_times.push_back(frame_time([&] { view->scroll_step(1, 1); }));
        }
    }
    std::printf("| zoom, %dx%d 16-bit in a %dx%d window, %zu frames | median %.1f, worst %.1f |\n",
                picture.width(), picture.height(), view->viewport()->width(),
                view->viewport()->height(), zoom_times.size(), median(zoom_times),
                highest(zoom_times));
    std::printf("| zoom, smooth, %zu frames | median %.1f, worst %.1f |\n", zoom_smooth.size(),
                median(zoom_smooth), highest(zoom_smooth));
    std::printf("| scroll at 1, 0.5 and 0.25, %zu frames | median %.1f, worst %.1f |\n",
                scroll_times.size(), median(scroll_times), highest(scroll_times));
    close_all_images();
}

void bench_gaps(const Folders& f, int runs) {
    BenchFrame bench;
    shell::FrameWindow& frame = bench.frame;
    frame.open_file(f.jpeg());
    wait(frame);
    std::vector<double> longest, totals, handlers;
    auto* app = static_cast<TimedApplication*>(QApplication::instance());
    for (int i = 0; i < runs; ++i) {
        app->longest = 0;
        double gap = 0;
        auto last = Clock::now();
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            gap = std::max(gap, ms_since(last));
            last = Clock::now();
        });
        tick.start(1);
        const auto start = Clock::now();
        // A new node each time: the blur, its picture, its thumbnail, the redraw.
        apply_line(frame, formatted("gaussian_blur 0 radius %d", 3 + i));
        totals.push_back(ms_since(start));
        tick.stop();
        gap = std::max(gap, ms_since(last));
        longest.push_back(gap);
        handlers.push_back(app->longest);
    }
    std::printf(
        "| longest event-loop gap during Gaussian Blur, %d runs | median %.1f, worst %.1f "
        "| (blur to redrawn %.0f) |\n",
        runs, median(longest), highest(longest), median(totals));
    std::printf("| longest single event handled meanwhile | median %.1f, worst %.1f |\n",
                median(handlers), highest(handlers));
    close_all_images();
}

void bench_browser(const Folders& f, int runs) {
    BenchFrame bench;
    shell::FrameWindow& frame = bench.frame;
    // 30 images, each with a chain of 9 transformations: 300 nodes.
    for (int i = 0; i < 30; ++i) {
        frame.open_file(f.small());
        wait(frame);
        apply_line(frame, "invert 0", 9);
    }
    shell::BrowserCanvas* canvas = frame.browser()->canvas();
    const shell::BrowserSnapshot snapshot = canvas->snapshot();
    std::vector<double> times;
    for (int i = 0; i < runs * 5; ++i) {
        const auto start = Clock::now();
        canvas->set_snapshot(snapshot);
        canvas->viewport()->repaint();
        times.push_back(ms_since(start));
    }
    std::printf("| Image Browser, %zu nodes laid out and drawn | median %.1f, worst %.1f |\n",
                snapshot.nodes.size(), median(times), highest(times));
    close_all_images();
}

// A change made in a transformation's dialog, through its control: from the new value to the
// first look drawn in the image window (a reduced copy's result, for large pictures), to the
// result drawn (the window's picture of the re-run node), and to the engine idle again (the
// full-resolution display copy and its halved copies made). Each change alternates between two
// values so that every one really runs. Against it, the same transformation as tessaly-cli
// runs it: the module on the same picture, in this process, on the same threads.
struct PreviewCase {
    const char* name;
    const char* keyword;
    const char* key;  // the control changed (Resize: the Percent field of its panel)
    double values[2];
    std::string line;  // the second value as a command line, for the module alone
};

// clang-format off
const PreviewCase preview_cases[] = {
    {"Gaussian Blur", "gaussian_blur", "radius", {3, 4}, "gaussian_blur 0 radius 4"},
    // Its panel's radius slider: position p gives radius rnd(p * 40 / 10008).
    {"Unsharp Mask", "unsharp_mask", "radius", {500, 751}, "unsharp_mask 0 radius 3"},
    {"Brightness Curve", "brightness_curve", "saturation", {0.2, 0.3},
     "brightness_curve 0 saturation 0.3"},
    {"Resize", "resize", "percent", {50, 51}, "resize 0 percent 51 set 14 method 2 sharpen -0.75"},
};
// clang-format on

// The module alone on input's picture, as tessaly-cli's --apply runs it.
double module_time(Node* input, const std::string& line, int runs) {
    const ArgumentList args = split(line);
    const TransformationEntry* entry = find_transformation(args[0]);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        Node out;
        out.masks.resize(1);
        out.masks[0] = std::make_unique<MaskSettings>();
        const auto start = Clock::now();
        if (entry->run(input, &out, args) != 0) return -1;
        times.push_back(ms_since(start));
    }
    return median(times);
}

void set_control(QWidget* control, double value) {
    if (auto* spin = qobject_cast<QSpinBox*>(control)) spin->setValue(static_cast<int>(value));
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(control)) spin->setValue(value);
    if (auto* slider = qobject_cast<QSlider*>(control)) slider->setValue(static_cast<int>(value));
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        // Typed and left, as a person does.
        edit->setText(QString::number(value));
        emit edit->editingFinished();
    }
}

// Waits for the next event as the program's own loop does: a loop that polls would take a core
// from the engine's workers on a two-core machine. The timer only guarantees that the waiting
// condition is looked at again.
void wait_for_events() {
    static QTimer* tick = [] {
        auto* t = new QTimer;
        t->start(20);
        return t;
    }();
    (void)tick;
    QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void settle(shell::FrameWindow& frame, shell::TransformationDialog* dialog) {
    while (dialog->waiting() || frame.engine().busy()) wait_for_events();
    QApplication::processEvents();
}

void bench_preview(const Folders& f, int runs) {
    BenchFrame bench;
    shell::FrameWindow& frame = bench.frame;
    frame.open_file(f.jpeg());
    wait(frame);
    shell::ImageView* view = frame.view();
    Node* picture = nullptr;
    frame.run([&picture] { picture = current_node(); });
    wait(frame);
    for (int depth : {8, 16}) {
        Node* base = picture;
        if (depth == 16) {
            frame.run([picture] { set_current_node(picture, -1); });
            apply_line(frame, "convert 0 otype 5");
            frame.run([&base] { base = current_node(); });
            wait(frame);
        }
        for (const PreviewCase& c : preview_cases) {
            frame.run([base] { set_current_node(base, -1); });
            wait(frame);
            shell::open_transformation_dialog(frame, *find_transformation(c.keyword)->module);
            wait(frame);
            auto dialogs = frame.findChildren<shell::TransformationDialog*>();
            if (dialogs.empty()) continue;
            shell::TransformationDialog* dialog = dialogs.back();
            QWidget* control = dialog->control(c.key);
            if (auto* resize = qobject_cast<shell::ResizePanel*>(dialog->panel())) {
                control = resize->field(shell::ResizePanel::percent);
            }
            if (auto* unsharp = qobject_cast<shell::UnsharpMaskPanel*>(dialog->panel())) {
                control = unsharp->slider(c.key);
            }
            if (!control) {
                std::printf("| %s: no control %s |\n", c.name, c.key);
                dialog->reject();
                settle(frame, dialog);
                continue;
            }
            set_control(control, c.values[0]);
            settle(frame, dialog);
            std::vector<double> first, result, idle;
            for (int i = 0; i < runs; ++i) {
                qint64 shown = view->picture().cacheKey();
                const auto start = Clock::now();
                set_control(control, c.values[(i + 1) % 2]);
                double first_ms = -1, result_ms = -1;
                while (dialog->waiting() || frame.engine().busy()) {
                    wait_for_events();
                    if (view->picture().cacheKey() == shown) continue;
                    view->viewport()->repaint();
                    shown = view->picture().cacheKey();
                    // A first look is drawn from the reduced copy (at most proxy_side long);
                    // the re-run node's picture is larger (its window preview, or the whole
                    // picture), and later ones are the same result at full resolution. A node
                    // whose runs are quick gets no first look: its result is the first.
                    const QSize size = view->picture().size();
                    const bool reduced =
                        std::max(size.width(), size.height()) <= int(shell::proxy_side);
                    if (reduced && first_ms < 0) {
                        first_ms = ms_since(start);
                    } else if (!reduced && result_ms < 0) {
                        result_ms = ms_since(start);
                        if (first_ms < 0) first_ms = result_ms;
                    }
                }
                QApplication::processEvents();
                view->viewport()->repaint();
                idle.push_back(ms_since(start));
                first.push_back(first_ms < 0 ? idle.back() : first_ms);
                result.push_back(result_ms < 0 ? idle.back() : result_ms);
            }
            dialog->reject();
            settle(frame, dialog);
            double alone = -1;
            frame.run([&] { alone = module_time(base, c.line, std::max(3, runs / 2)); });
            wait(frame);
            std::printf("| %s, %d-bit | %.0f (%.0f) | %.0f (%.0f) | %.0f | %.0f |\n", c.name, depth,
                        median(first), highest(first), median(result), highest(result),
                        median(idle), alone);
        }
    }
    close_all_images();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "start-child") {
        ::setenv("TESSALY_SETTINGS_ROOT", argv[3], 1);
        char* args[] = {argv[0], nullptr};
        int one = 1;
        return start_child(one, args, argv[2]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::setenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").constData(), 1);
    int runs = 7;
    std::vector<std::string> parts;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (std::isdigit(static_cast<unsigned char>(a[0]))) {
            runs = std::max(1, std::atoi(a.c_str()));
        } else {
            parts.push_back(a);
        }
    }
    if (parts.empty()) parts = {"start", "zoom", "gaps", "browser"};
    auto wanted = [&](const char* part) {
        return std::find(parts.begin(), parts.end(), part) != parts.end();
    };
    if (!fs::exists(wallpaper)) {
        std::fprintf(stderr, "display_bench: %s is missing (plasma-workspace-wallpapers)\n",
                     wallpaper);
        return 2;
    }
    Folders f;
    char folder[] = "/tmp/tessaly-display-bench-XXXXXX";
    if (!::mkdtemp(folder)) return 2;
    f.work = folder;
    f.bin = fs::canonical("/proc/self/exe").parent_path().string();
    if (!fs::exists(f.cli())) {
        std::fprintf(stderr, "display_bench: build %s first\n", f.cli().c_str());
        return 2;
    }
    std::printf("load average before: %s\n", load().c_str());
    int result = 0;
    if (!make_files(f)) {
        std::fprintf(stderr, "display_bench: cannot make the pictures with %s\n", f.cli().c_str());
        result = 1;
    } else {
        if (wanted("start")) bench_start(f, runs);
        if (wanted("start") || wanted("zoom") || wanted("gaps") || wanted("browser") ||
            wanted("preview")) {
            ::setenv("TESSALY_SETTINGS_ROOT", f.settings("in-process").c_str(), 1);
            TimedApplication app(argc, argv);
            shell::prepare_application();
            init_locale_separators();
            install_engine();
            create_program_folders();
            load_saved_state();
            if (wanted("start")) bench_parts(f, runs);
            if (wanted("zoom")) bench_zoom(f);
            if (wanted("gaps")) bench_gaps(f, runs);
            if (wanted("browser")) bench_browser(f, runs);
            if (wanted("preview")) {
                std::printf(
                    "| 24 MP, median (worst), ms | first look drawn | result drawn | "
                    "engine idle | module alone |\n|---|---|---|---|---|\n");
                bench_preview(f, runs);
            }
        }
    }
    std::printf("load average after: %s\n", load().c_str());
    std::error_code ec;
    fs::remove_all(f.work, ec);
    return result;
}
