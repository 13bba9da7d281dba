#include "shell/frame_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QUrl>
#include <set>

#include "core/clipboard.h"
#include "core/format.h"
#include "core/image_convert.h"
#include "core/interaction.h"
#include "fileio/save.h"
#include "fileio/save_options.h"
#include "framework/module.h"
#include "framework/registry.h"
#include "shell/batch_window.h"
#include "shell/browser_actions.h"
#include "shell/clipboard.h"
#include "shell/commands.h"
#include "shell/engine_worker.h"
#include "shell/frame_dialogs.h"
#include "shell/image_view.h"
#include "shell/mask_dialog.h"
#include "shell/qt_interaction.h"
#include "shell/quick_pick.h"
#include "shell/save_options_dialog.h"
#include "shell/transformation_dialog.h"
#include "tree/edit.h"
#include "workspace/preferences.h"
#include "workspace/script_files.h"
#include "workspace/session_state.h"
#include "workspace/startup.h"
#include "workspace/theme.h"

namespace tessaly::shell {

namespace {

constexpr const char* program_caption = "Tessaly";

// The menu text without its accelerator note: "Print...  (Ctrl-P)" is "Print...".
std::string plain_text(const std::string& text) {
    const auto cut = text.find("  (");
    return cut == std::string::npos ? text : text.substr(0, cut);
}

// What the keys that have no menu item do.
const char* key_purpose(std::uint32_t id) {
    switch (id) {
        case command_zoom_in:
            return "Zoom in";
        case command_zoom_out:
            return "Zoom out";
        case command_zoom_toggle:
            return "1:1 or fitted";
        case 1128:
        case 1129:
            return "Fine zoom in full screen";
        case 1130:
            return "1:1 or filled, in full screen";
        case command_scroll_left:
        case command_scroll_right:
        case command_scroll_up:
        case command_scroll_down:
            return "Scroll";
        case 1801:
            return "OK of the transformation's dialog";
        case 1802:
            return "Cancel of the transformation's dialog";
        case 1136:
            return "Mask: Add";
        case 1137:
            return "Mask: Subtract";
        case 1800:
            return "Proofing and gamut alarm";
        case 1080:
            return "Clipped shadows and highlights";
        case 1138:
            return "Preview window";
        case 1133:
            return "Dialog command";
        case 1411:
            return "Reopen the previous workspace";
        default:
            return "";
    }
}

const MenuEntry* find_entry(const std::vector<MenuEntry>& entries, std::uint32_t id) {
    for (const MenuEntry& e : entries) {
        if (e.id == id && !e.is_separator()) return &e;
        if (const MenuEntry* inner = find_entry(e.items, id)) return inner;
    }
    return nullptr;
}

}  // namespace

// Nodes whose pictures must be made again, noted on the engine's thread as runs change them.
class FrameWindow::Observer : public TreeObserver {
  public:
    void node_changed(Node* node, bool) override { dirty.insert(node->serial); }
    void node_destroyed(Node* node) override { gone.insert(node->serial); }
    std::set<std::int32_t> dirty;
    std::set<std::int32_t> gone;
};

FrameWindow::FrameWindow(Interaction* other)
    : worker_(std::make_unique<EngineWorker>()),
      observer_(std::make_unique<Observer>()),
      splitter_(new QSplitter(this)),
      browser_(new ImageBrowser(splitter_)),
      view_(new ImageView(splitter_)) {
    setObjectName("TSY8 Frame Window");
    setAcceptDrops(true);
    interaction_ = std::make_unique<QtInteraction>(this, statusBar());
    previous_interaction_ = set_interaction(other ? other : interaction_.get());
    add_tree_observer(observer_.get());
    install_clipboard();

    const SessionState& session = session_state();
    splitter_->setOrientation(session.horizontal_split ? Qt::Vertical : Qt::Horizontal);
    splitter_->addWidget(browser_);
    splitter_->addWidget(view_);
    setCentralWidget(splitter_);
    browser_->set_state(session.thumbnail_zoom_factor, session.hide_images != 0,
                        session.show_select != 0);
    view_->set_smooth(preferences().smooth_zoom != 0);
    {
        QPalette palette = view_->palette();
        const ShellColor& c = current_theme().workspace_background;
        palette.setColor(QPalette::Window, QColor(c.red, c.green, c.blue));
        view_->viewport()->setPalette(palette);
        view_->viewport()->setAutoFillBackground(true);
    }
    resize(1200, 800);
    const int total = splitter_->orientation() == Qt::Horizontal ? width() : height();
    const int first = static_cast<int>(total * std::clamp(session.separator, 0.05, 0.95));
    splitter_->setSizes({first, total - first});
    setWindowTitle(QString::fromStdString(frame_title()));

    build_menus();
    setup_frame_dialogs(*this);
    install_batch_window(*this);
    install_quick_pick(*this);
    install_save_options_dialog(*this);
    for (const Accelerator& a : accelerators()) {
        auto* shortcut = new QShortcut(QKeySequence(a.key), this);
        connect(shortcut, &QShortcut::activated, this, [this, id = a.id] { command(id); });
    }
    connect(browser_->canvas(), &BrowserCanvas::node_clicked, this, [this](std::int32_t serial) {
        run([serial] { set_current_node(find_node_by_serial(serial), -1); });
    });
    connect(browser_, &ImageBrowser::command, this, [this](int id) { command(id); });
    connect(browser_, &ImageBrowser::state_changed, this, [this] {
        SessionState& s = session_state();
        s.thumbnail_zoom_factor = browser_->zoom();
        s.hide_images = browser_->images_hidden();
        s.show_select = browser_->selection_bar_shown();
    });
    connect(browser_, &ImageBrowser::action, this, [this](BrowserAction what) {
        switch (what) {
            case BrowserAction::close_selected:
                run([] { (void)close_selected(); });
                break;
            case BrowserAction::copy_selected:
                run([] { (void)copy_selected(true); });
                break;
            case BrowserAction::snip:
                run([] { (void)snip_selected(); });
                break;
            case BrowserAction::select_single:
            case BrowserAction::select_branch:
            case BrowserAction::select_downstream:
            case BrowserAction::select_upstream:
            case BrowserAction::select_all:
                run([what] { toggle_selection(what); });
                break;
            case BrowserAction::bypass_on:
            case BrowserAction::bypass_off:
                run([on = what == BrowserAction::bypass_on] { set_selected_bypass(on); });
                break;
            default:
                not_available(0);
                break;
        }
    });
    // What the engine said while it worked ("Opening file: ...") is over when it is idle.
    connect(worker_.get(), &EngineWorker::busy_changed, this, [this](bool busy) {
        if (!busy) statusBar()->clearMessage();
    });
    // Queued opens: one file a second while the program is idle.
    connect(&timer_, &QTimer::timeout, this, &FrameWindow::tick);
    timer_.start(1000);
}

FrameWindow::~FrameWindow() {
    timer_.stop();
    worker_.reset();  // finishes what is queued
    uninstall_batch_window(*this);
    remove_tree_observer(observer_.get());
    set_interaction(previous_interaction_);
}

void FrameWindow::build_menus() {
    std::function<void(QMenu*, const std::vector<MenuEntry>&)> fill =
        [&](QMenu* menu, const std::vector<MenuEntry>& entries) {
            for (const MenuEntry& e : entries) {
                if (e.is_separator()) {
                    menu->addSeparator();
                } else if (e.is_submenu()) {
                    QMenu* sub = menu->addMenu(QString::fromStdString(e.text));
                    if (e.text == "Open Recent...") {
                        connect(sub, &QMenu::aboutToShow, this,
                                [this, sub] { fill_recent_files(sub); });
                    } else {
                        fill(sub, e.items);
                    }
                } else {
                    QAction* action = menu->addAction(QString::fromStdString(e.text));
                    action->setData(static_cast<uint>(e.id));
                    connect(action, &QAction::triggered, this, [this, id = e.id] { command(id); });
                }
            }
        };
    for (const MenuEntry& word : menu_strip()) {
        QMenu* menu = menuBar()->addMenu(QString::fromStdString(word.text));
        fill(menu, word.items);
        // Items that need an image are disabled while there is none.
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            const BrowserSnapshot& shown = browser_->canvas()->snapshot();
            const bool image = shown.current >= 0;
            std::function<void(QMenu*)> enable = [&](QMenu* m) {
                for (QAction* a : m->actions()) {
                    if (a->menu()) enable(a->menu());
                    const auto id = a->data().toUInt();
                    if (needs_current_image(id)) a->setEnabled(image);
                    if (id == 1012) a->setEnabled(!shown.nodes.empty());
                }
            };
            enable(menu);
        });
    }
}

void FrameWindow::fill_recent_files(QMenu* menu) {
    menu->clear();
    const auto& files = recent_script_files();
    std::uint32_t id = first_recent_file;
    for (const std::string& file : files) {
        if (id > last_recent_file) break;
        QAction* a = menu->addAction(QString::fromStdString(file));
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, file] { open_file(file); });
        ++id;
    }
    if (files.empty()) menu->addAction(tr("(none)"))->setEnabled(false);
}

void FrameWindow::run(std::function<void()> work, std::function<void()> done) {
    worker_->submit(
        [this, work = std::move(work)] {
            work();
            take_pictures();
        },
        [this, done = std::move(done)] {
            show_pictures();
            if (done) done();
        });
}

void FrameWindow::take_pictures() {
    // The image window's picture first, drawn as soon as it is made: the thumbnails of the
    // browser can follow a moment later.
    Node* current = current_node();
    const Node* shown = current ? effective_image_node(current) : nullptr;
    if (current && current->serial == input_of_) {
        shown = current->parent ? effective_image_node(current->parent) : nullptr;
    }
    const std::int32_t serial = current ? current->serial : -1;
    const void* pixels = shown && shown->image.has_pixels() ? shown->image.rows : nullptr;
    const bool made = pixels && current->serial == picture_of_ && shown == current && make_picture_;
    if (serial != shown_serial_ || pixels != shown_pixels_ || made != shown_made_ ||
        (current && observer_->dirty.count(serial))) {
        QImage picture;
        if (made) picture = make_picture_(*current);
        if (pixels && picture.isNull()) picture = window_picture(shown->image);
        // The zoom the person chose stays while the same node shows a picture of the same size.
        const bool fit = serial != shown_serial_ || full_size(picture) != full_size(picture_);
        shown_serial_ = serial;
        shown_pixels_ = pixels;
        shown_made_ = made;
        {
            std::lock_guard lock(pictures_mutex_);
            picture_ = std::move(picture);
            picture_changed_ = true;
            picture_fit_ = picture_fit_ || fit;
        }
        QMetaObject::invokeMethod(this, [this] { show_picture(); });
    }

    const int side = browser_->canvas()->metrics().thumbnail_side();
    std::map<std::int32_t, QImage> thumbnails;
    {
        std::lock_guard lock(pictures_mutex_);
        thumbnails = thumbnails_;
    }
    for (std::int32_t gone : observer_->gone) thumbnails.erase(gone);
    observer_->gone.clear();
    for (Node* node : all_nodes()) {
        const Node* image = effective_image_node(node);
        const bool stale = observer_->dirty.count(node->serial) || !thumbnails.count(node->serial);
        if (!stale) continue;
        if (image && image->image.has_pixels() && !node->error) {
            // A thumbnail at twice the side keeps it sharp after two zoom steps.
            thumbnails[node->serial] = display_thumbnail(image->image, side * 2);
        } else {
            thumbnails[node->serial] = QImage();
        }
    }
    observer_->dirty.clear();
    std::vector<std::pair<std::int32_t, QImage>> list(thumbnails.begin(), thumbnails.end());
    BrowserSnapshot snapshot = snapshot_tree(list);
    std::lock_guard lock(pictures_mutex_);
    thumbnails_ = std::move(thumbnails);
    snapshot_ = std::move(snapshot);
    title_ = frame_title();
}

void FrameWindow::show_picture() {
    std::lock_guard lock(pictures_mutex_);
    if (!picture_changed_) return;
    view_->set_picture(picture_, picture_fit_);
    picture_changed_ = false;
    picture_fit_ = false;
}

void FrameWindow::show_pictures() {
    std::lock_guard lock(pictures_mutex_);
    browser_->canvas()->set_snapshot(snapshot_);
    if (picture_changed_) {
        view_->set_picture(picture_, picture_fit_);
        picture_changed_ = false;
        picture_fit_ = false;
    }
    setWindowTitle(QString::fromStdString(title_));
}

void FrameWindow::open_file(const std::string& path) {
    if (worker_->busy()) {
        queue_.push_back(path);
        return;
    }
    ++opening_;
    run(
        [path] {
            if (process_command_token(path)) return;
            if (!tree_root().children.empty()) autosave_workspace();
        },
        [this] { --opening_; });
}

void FrameWindow::process_command_line(const std::string& text) {
    process_then_maybe_end([text] { (void)tessaly::process_command_line(text); });
}

void FrameWindow::process_handed_over_command_line() {
    process_then_maybe_end([] { (void)tessaly::process_handed_over_command_line(); });
}

// exit_when_done on the command line ends the program once its files are processed.
void FrameWindow::process_then_maybe_end(std::function<void()> work) {
    ++opening_;
    auto end = std::make_shared<bool>(false);
    run(
        [work = std::move(work), end] {
            work();
            *end = exit_when_done();
        },
        [this, end] {
            --opening_;
            if (*end) close();
        });
}

void FrameWindow::tick() {
    if (worker_->busy() || queue_.empty()) return;
    const std::string path = queue_.front();
    queue_.pop_front();
    ++opening_;
    run(
        [path] {
            if (process_command_token(path)) {
                show_error("Error opening file: %s", path);
            } else if (!tree_root().children.empty()) {
                autosave_workspace();
            }
        },
        [this] { --opening_; });
}

void FrameWindow::not_available(std::uint32_t id) {
    const MenuEntry* entry = nullptr;
    const auto strip = menu_strip();
    if (id) entry = find_entry(strip, id);
    const std::string what = entry ? plain_text(entry->text) : std::string("This command");
    show_warning("%s is not available yet in this version of Tessaly", what);
}

void FrameWindow::transformation_command(std::uint32_t id) {
    const TransformationEntry* entry = find_transformation_by_command(id);
    if (!entry) return;
    if (!entry->module) {
        show_error("Transformation not available: %s", entry->display_name);
        return;
    }
    // Transformations with a menu command of their own (Bypass, Paste) carry it out.
    if (entry->dialog) {
        run([dialog = entry->dialog] { (void)dialog(current_node(), nullptr); });
        return;
    }
    if (browser_->canvas()->snapshot().current < 0 && !entry->module->dialog_traits().top_level) {
        return;  // needs a current image
    }
    open_transformation_dialog(*this, *entry->module);
}

void FrameWindow::copy_to_clipboard() {
    auto placed = std::make_shared<bool>(false);
    run(
        [placed] {
            const Node* node = current_node();
            if (!node) return;
            const Image& image = effective_image_node(node)->image;
            if (!image.has_pixels()) return;
            const Image* out = &image;
            Image reduced;
            if (image.type == image_gray16 || image.type == image_color48) {
                show_warning("16-bit images are copied to the clipboard as 8-bit");
                const std::uint32_t type = image.type == image_gray16 ? image_gray8 : image_color24;
                if (image_convert(image, reduced, type)) return;
                out = &reduced;
            }
            const ClipboardWriter writer = clipboard_writer();
            const int result = writer ? writer(*out) : 1;
            if (result == 1) show_error("Error copying bitmap to clipboard");
            if (result == 2) show_error("Error copying V5 bitmap to clipboard");
            *placed = result == 0;
        },
        [this, placed] { owns_clipboard_ = owns_clipboard_ || *placed; });
}

void FrameWindow::command(std::uint32_t id) {
    if ((id >= 1200 && id <= 1399) || id == 1001 || id == 1101) run([id] { bump_use_count(id); });
    if ((id >= 1200 && id <= 1359) || id == 1000) {
        transformation_command(id);
        return;
    }
    if (transformation_dialog_command(*this, id)) return;
    if (mask_dialog_command(*this, id)) return;  // F3 and F4 while a mask dialog is open
    const bool image = browser_->canvas()->snapshot().current >= 0;
    if (needs_current_image(id) && !image) return;
    if (dialog_command(id)) return;
    if (view_->command(id)) return;
    switch (id) {
        case 1001:
        case 1004:
            run([from_default = id == 1004] {
                FileChoice choice;
                choice.title = from_default ? "Open from Default" : "Open";
                choice.folder =
                    from_default ? session_state().default_folder : last_file_open_folder();
                if (auto path = interaction().choose_open_file(choice)) {
                    if (!process_command_token(*path)) autosave_workspace();
                }
            });
            break;
        case 1003:
        case 1005:
            if (!image) return;
            run([to_default = id == 1005] {
                FileChoice choice;
                choice.title = to_default ? "Save to Default" : "Save As";
                choice.folder = to_default ? session_state().default_folder
                                           : session_state().last_file_save_folder;
                auto path = interaction().choose_save_file(choice);
                if (!path) return;
                const std::int32_t format = save_format_of(*path);
                if (check_save_extension(*path, format)) return;
                (void)save_with_options(*path, current_node(), format);
            });
            break;
        case 1011:
            // Close: the current node alone, through the same questions as the browser's.
            run([] {
                Node* node = current_node();
                if (!node) return;
                clear_selection();
                node->selected = true;
                (void)close_selected();
                clear_selection();
            });
            break;
        case 1113:
            run([] {
                Node* node = current_node();
                if (node && is_side_branch(node)) node = node->parent;
                if (node && is_splitter(node)) {
                    if (add_branch(node)) autosave();
                }
            });
            break;
        case 1117:
            run([] {
                if (Node* node = current_node()) node->breakpoint = !node->breakpoint;
            });
            break;
        case 1118:
            run([] {
                for (Node* node : all_nodes()) node->breakpoint = false;
            });
            break;
        case 1120:
            // Files copied in a file manager are opened as if they were dropped.
            run([] {
                ClipboardContent content;
                const ClipboardReader reader = clipboard_reader();
                if (!reader || reader(content) || content.files.empty()) return;
                for (const std::string& path : content.files) (void)process_command_token(path);
                if (!tree_root().children.empty()) autosave_workspace();
            });
            break;
        case 1012:
            run([] {
                if (interaction().ask(program_caption, "Close All Images?", Buttons::yes_no,
                                      Answer::no) == Answer::yes) {
                    close_all_images();
                }
            });
            break;
        case 1023:
            close();
            break;
        case 1100:
            if (!image) return;
            copy_to_clipboard();
            break;
        case 1101:
            transformation_command(id);
            break;
        case 1102:
        case 1103:
            run([forward = id == 1103] {
                const auto nodes = all_nodes();
                const auto at = std::find(nodes.begin(), nodes.end(), current_node());
                if (at == nodes.end()) return;
                if (forward && at + 1 != nodes.end()) set_current_node(*(at + 1), -1);
                if (!forward && at != nodes.begin()) set_current_node(*(at - 1), -1);
            });
            break;
        case 1104:
            run([] { (void)move_up(current_node()); });
            break;
        case 1105:
            run([] { (void)move_down(current_node()); });
            break;
        case 1106:
            run([] { (void)move_left(current_node()); });
            break;
        case 1107:
            run([] { (void)move_right(current_node()); });
            break;
        case 1112:
            // The new splitter becomes current, ready for Add Branch to Splitter.
            run([] {
                Node* n = current_node();
                if (!n) return;
                if (Node* splitter = add_splitter(n, 2)) {
                    set_current_node(splitter, -1);
                    autosave();
                }
            });
            break;
        case 1119:
            isFullScreen() ? showNormal() : showFullScreen();
            break;
        case command_zoom_in:
            view_->zoom_in();
            break;
        case command_zoom_out:
            view_->zoom_out();
            break;
        case command_zoom_toggle:
            view_->toggle_zoom();
            break;
        case command_scroll_left:
            view_->scroll_step(-1, 0);
            break;
        case command_scroll_right:
            view_->scroll_step(1, 0);
            break;
        case command_scroll_up:
            view_->scroll_step(0, -1);
            break;
        case command_scroll_down:
            view_->scroll_step(0, 1);
            break;
        case 1401:
            run([] { (void)load_script(std::nullopt); });
            break;
        case 1402:
            run([] { (void)insert_snippet(std::nullopt); });
            break;
        case 1403:
        case 1404:
        case 1405:
            run([id] {
                const ImageNames names = id == 1403   ? ImageNames::with_names
                                         : id == 1404 ? ImageNames::without_names
                                                      : ImageNames::with_copies;
                if (Node* n = current_node()) (void)save_script(n, std::nullopt, names);
            });
            break;
        case 1406:
            run([] { (void)load_workspace(std::nullopt); });
            break;
        case 1407:
            run([] { (void)load_autosaved_workspace(); });
            break;
        case 1408:
        case 1409:
        case 1410:
            run([id] {
                const ImageNames names = id == 1408   ? ImageNames::with_names
                                         : id == 1409 ? ImageNames::without_names
                                                      : ImageNames::with_copies;
                (void)save_workspace(std::nullopt, names, false, true);
            });
            break;
        case 1139:
            // The browser colours the captions of what the current image uses and what uses it.
            run([] {
                clear_relation_marks();
                if (Node* node = current_node()) select_node(node);
            });
            break;
        case 1604: {
            std::string keys;
            const std::vector<MenuEntry> strip = menu_strip();
            for (const Accelerator& a : accelerators()) {
                const MenuEntry* entry = find_entry(strip, a.id);
                const QString key = QKeySequence(a.key).toString(QKeySequence::NativeText);
                keys += key.toStdString() + "\t" +
                        (entry ? plain_text(entry->text) : std::string(key_purpose(a.id))) + "\n";
            }
            interaction().message(MessageKind::information, "Keyboard Shortcuts", keys);
            break;
        }
        case 1600:
            interaction().message(MessageKind::information, "About Tessaly",
                                  version_string() + "\nA non-destructive photo editor.");
            break;
        default:
            not_available(id);
            break;
    }
}

bool FrameWindow::exit_questions() {
    // A script run unattended ends without questions.
    if (exit_when_done()) return true;
    if (opening()) {
        show_error("A file open is currently in progress - please wait for it to complete.");
        return false;
    }
    worker_->wait_idle();
    if (preferences().save_workspace_file && !browser_->canvas()->snapshot().nodes.empty()) {
        const Answer answer =
            interaction().ask(program_caption, "Save current workspace before exiting?",
                              Buttons::yes_no_cancel, Answer::yes);
        if (answer == Answer::cancel) return false;
        if (answer == Answer::yes) {
            FileChoice choice;
            choice.title = "Save Workspace Script File";
            choice.filter_name = "Workspace Script Files";
            choice.patterns = {"*.workspace"};
            choice.folder = workspace_scripts_folder();
            const auto path = interaction().choose_save_file(choice);
            if (!path) return false;
            bool failed = false;
            run([&failed, path] {
                failed = save_workspace(*path, ImageNames::with_names, false, false);
            });
            worker_->wait_idle();
            if (failed) return false;
        }
    }
    if (owns_clipboard_ && interaction().ask(program_caption, "Leave image on clipboard?",
                                             Buttons::yes_no, Answer::yes) == Answer::no) {
        QApplication::clipboard()->clear();
        owns_clipboard_ = false;
    }
    return true;
}

void FrameWindow::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    if (!exit_questions()) {
        event->ignore();
        return;
    }
    closing_ = true;
    timer_.stop();
    SessionState& s = session_state();
    const QList<int> sizes = splitter_->sizes();
    if (sizes.size() == 2 && sizes[0] + sizes[1] > 0) {
        s.separator = double(sizes[0]) / (sizes[0] + sizes[1]);
    }
    run([] {
        finish_session();
        close_all_images();
    });
    worker_->wait_idle();
    event->accept();
}

void FrameWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void FrameWindow::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        // Names are read up to 1000 characters.
        if (url.isLocalFile()) open_file(url.toLocalFile().left(1000).toStdString());
    }
    event->acceptProposedAction();
}

}  // namespace tessaly::shell
