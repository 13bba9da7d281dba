#include "shell/file_open_panel.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <optional>

#include "batch/batch.h"
#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "shell/frame_window.h"
#include "shell/transformation_dialog.h"
#include "tree/tree.h"
#include "workspace/startup.h"

namespace tessaly::shell {

namespace {

namespace fs = std::filesystem;

// Scripts and workspaces build trees of their own: they cannot be one file among many.
bool is_script_file(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".script" || ext == ".workspace";
}

// A choice of several files comes back as one path a line.
std::vector<std::string> chosen_paths(const std::string& answer) {
    std::vector<std::string> paths;
    std::size_t from = 0;
    while (from <= answer.size()) {
        const std::size_t end = std::min(answer.find('\n', from), answer.size());
        if (end > from) paths.push_back(answer.substr(from, end - from));
        from = end + 1;
    }
    return paths;
}

const char* const sort_orders[] = {"By name - ascending", "By name - descending",
                                   "By date - ascending", "By date - descending"};

}  // namespace

FileOpenPanel::FileOpenPanel(FrameWindow& frame) : frame_(frame) {
    s_.current = 0;
    s_.from_default = false;
    s_.multiple = false;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    auto* tools = new QHBoxLayout;
    auto add_tool = [&](const char* tip, const char* text, auto action) {
        auto* b = new QToolButton;
        b->setText(text);
        b->setToolTip(tip);
        b->setObjectName(tip);
        connect(b, &QToolButton::clicked, this, action);
        tools->addWidget(b);
        return b;
    };
    add_tool("Select files", "Select...", [this] { choose_files(false); });
    add_tool("Append selected files to the file list", "Append...", [this] { choose_files(true); });
    add_tool("Remove all selected files from the file list", "Remove",
             [this] { remove_selected(); });
    add_tool("Rename the current file", "Rename...", [this] { rename_current(); });
    QToolButton* sort = add_tool("Sort the file list", "Sort", [] {});
    sort->setPopupMode(QToolButton::InstantPopup);
    auto* sort_menu = new QMenu(sort);
    for (int i = 0; i < 4; ++i) {
        connect(sort_menu->addAction(sort_orders[i]), &QAction::triggered, this,
                [this, i] { sort_list(i); });
    }
    sort->setMenu(sort_menu);
    add_tool("Select all files", "All", [this] { select_all(true); });
    add_tool("Deselect all files", "None", [this] { select_all(false); });
    add_tool("Run all selected files in the file List", "Run", [this] { run(batch_run); });
    add_tool("Run all selected files in the file List in test mode", "Test",
             [this] { run(batch_test); });
    tools->addStretch(1);
    outer->addLayout(tools);

    outer->addWidget(new QLabel("File List:"));
    list_ = new QListWidget;
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setMinimumHeight(160);
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        if (quiet_) return;
        take_selection();
        changed();
    });
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { make_current(list_->row(item)); });
    outer->addWidget(list_, 1);

    current_ = new QLabel;
    current_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(current_);

    auto* kinds = new QHBoxLayout;
    single_ = new QRadioButton("Single Batch");
    multiple_ = new QRadioButton("Multiple Batch");
    auto* group = new QButtonGroup(this);
    group->addButton(single_);
    group->addButton(multiple_);
    single_->setChecked(true);
    connect(multiple_, &QRadioButton::toggled, this, [this](bool on) {
        if (quiet_) return;
        s_.multiple = on;
        changed();
    });
    kinds->addWidget(single_);
    kinds->addWidget(multiple_);
    kinds->addStretch(1);
    outer->addLayout(kinds);

    auto* caption_row = new QHBoxLayout;
    caption_row->addWidget(new QLabel("Caption:"));
    caption_ = new QLineEdit;
    connect(caption_, &QLineEdit::editingFinished, this, [this] {
        const std::string text = caption_->text().toStdString();
        if (quiet_ || text == s_.prompt) return;
        s_.prompt = text;
        changed();
    });
    caption_row->addWidget(caption_, 1);
    outer->addLayout(caption_row);
}

std::vector<std::string> FileOpenPanel::keys() const {
    return {"n_files", "current", "from_default", "multiple", "prompt"};
}

void FileOpenPanel::show_line(const std::string& line) {
    FileOpenSettings parsed;
    if (file_open_module.parse(split(line), parsed)) return;
    s_ = std::move(parsed);
    refill();
}

std::string FileOpenPanel::settings() const {
    // Every key is written, also those the short form leaves out, so that nothing of an older
    // line behind these pairs is read in their place.
    PlainSeparators plain;
    std::string out =
        formatted(" n_files %d current %d from_default %d multiple %d prompt %s",
                  static_cast<std::int32_t>(s_.files.size()), s_.current, s_.from_default ? 1 : 0,
                  s_.multiple ? 1 : 0, quoted_text(s_.prompt));
    for (std::size_t i = 0; i < s_.files.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i + 1);
        out += formatted(" file%d %s time%d %s selected%d %d", n, quoted_text(s_.files[i].path), n,
                         quoted_text(s_.files[i].time), n, s_.files[i].selected ? 1 : 0);
    }
    return out;
}

void FileOpenPanel::refill() {
    quiet_ = true;
    list_->clear();
    QStringList names;
    for (const FileOpenEntry& f : s_.files) names << QString::fromStdString(f.path);
    list_->addItems(names);
    // The selection is set as runs of rows at once: item by item it grows with the square of a
    // long list.
    QItemSelection selection;
    const int n = static_cast<int>(s_.files.size());
    for (int i = 0; i < n;) {
        if (!s_.files[static_cast<std::size_t>(i)].selected) {
            ++i;
            continue;
        }
        int end = i;
        while (end + 1 < n && s_.files[static_cast<std::size_t>(end + 1)].selected) ++end;
        selection.select(list_->model()->index(i, 0), list_->model()->index(end, 0));
        i = end + 1;
    }
    list_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!s_.files.empty()) {
        s_.current =
            std::clamp<std::int32_t>(s_.current, 0, static_cast<std::int32_t>(s_.files.size()) - 1);
        current_->setText(
            "Current file: " +
            QString::fromStdString(s_.files[static_cast<std::size_t>(s_.current)].path));
    } else {
        s_.current = 0;
        current_->setText("Current file: ");
    }
    (s_.multiple ? multiple_ : single_)->setChecked(true);
    caption_->setText(QString::fromStdString(s_.prompt));
    quiet_ = false;
}

void FileOpenPanel::take_selection() {
    for (int i = 0; i < list_->count() && i < static_cast<int>(s_.files.size()); ++i) {
        s_.files[static_cast<std::size_t>(i)].selected = list_->item(i)->isSelected();
    }
}

void FileOpenPanel::changed() {
    emit edited();
}

QToolButton* FileOpenPanel::button(const char* tip) const {
    return findChild<QToolButton*>(tip);
}

void FileOpenPanel::choose_files(bool append) {
    FileChoice choice;
    choice.title = "Open Image Files";
    choice.folder = last_file_open_folder();
    choice.allow_multiple = true;
    const std::optional<std::string> answer = interaction().choose_open_file(choice);
    if (!answer) return;
    std::vector<FileOpenEntry> chosen;
    bool scripts = false;
    for (const std::string& path : chosen_paths(*answer)) {
        if (is_script_file(path)) {
            scripts = true;
            continue;
        }
        chosen.push_back({path, file_time_text(path), true});
    }
    if (scripts) show_error("Cannot open script files as part of a file list");
    if (chosen.empty()) return;
    const std::size_t kept = append ? s_.files.size() : 0;
    if (kept + chosen.size() > static_cast<std::size_t>(file_open_max_files)) {
        show_error("Too many files");
        return;
    }
    if (!append) {
        s_.files.clear();
        s_.current = 0;
    }
    s_.files.insert(s_.files.end(), chosen.begin(), chosen.end());
    set_last_file_open_folder(fs::path(chosen.back().path).parent_path().string());
    refill();
    changed();
}

void FileOpenPanel::remove_selected() {
    take_selection();
    if (s_.files.empty()) return;
    const std::string shown = s_.files[static_cast<std::size_t>(s_.current)].path;
    const std::size_t before = s_.files.size();
    std::erase_if(s_.files, [](const FileOpenEntry& f) { return f.selected; });
    if (s_.files.size() == before) return;
    // The shown file stays current when it is still listed.
    auto it = std::find_if(s_.files.begin(), s_.files.end(),
                           [&](const FileOpenEntry& f) { return f.path == shown; });
    s_.current = it == s_.files.end() ? 0 : static_cast<std::int32_t>(it - s_.files.begin());
    refill();
    changed();
}

void FileOpenPanel::rename_current() {
    if (s_.files.empty()) return;
    FileOpenEntry& f = s_.files[static_cast<std::size_t>(s_.current)];
    const fs::path old_path(f.path);
    FileChoice choice;
    choice.title = "Rename the current file";
    choice.folder = old_path.parent_path().string();
    choice.suggested_name = old_path.filename().string();
    const std::optional<std::string> answer = interaction().choose_save_file(choice);
    if (!answer || *answer == f.path) return;
    std::error_code ec;
    if (fs::exists(*answer, ec)) {
        show_error("File already exists: %s", *answer);
        return;
    }
    fs::rename(old_path, *answer, ec);
    if (ec) {
        show_error("Cannot rename file: %s", f.path);
        return;
    }
    f.path = *answer;
    f.time = file_time_text(f.path);
    refill();
    changed();
}

void FileOpenPanel::sort_list(int order) {
    take_selection();
    if (s_.files.size() < 2) return;
    const std::string shown = s_.files[static_cast<std::size_t>(s_.current)].path;
    const bool by_date = order >= 2, descending = order % 2 == 1;
    // The stored times are written year first, so their text sorts as the times do.
    std::stable_sort(s_.files.begin(), s_.files.end(),
                     [&](const FileOpenEntry& a, const FileOpenEntry& b) {
                         const std::string& x = by_date ? a.time : a.path;
                         const std::string& y = by_date ? b.time : b.path;
                         return descending ? y < x : x < y;
                     });
    auto it = std::find_if(s_.files.begin(), s_.files.end(),
                           [&](const FileOpenEntry& f) { return f.path == shown; });
    s_.current = static_cast<std::int32_t>(it - s_.files.begin());
    refill();
    changed();
}

void FileOpenPanel::select_all(bool selected) {
    for (FileOpenEntry& f : s_.files) f.selected = selected;
    refill();
    changed();
}

void FileOpenPanel::make_current(int index) {
    if (index < 0 || index >= static_cast<int>(s_.files.size()) || index == s_.current) return;
    s_.current = index;
    refill();
    changed();
}

void FileOpenPanel::run(int mode) {
    take_selection();
    auto* dialog = qobject_cast<TransformationDialog*>(window());
    if (!dialog) return;
    const std::int32_t serial = dialog->node_serial();
    // OK goes to the engine first, so the batch walks the list as it stands now.
    dialog->accept();
    frame_.run([serial, mode] {
        if (Node* node = find_node_by_serial(serial)) (void)run_batch(node, mode);
    });
}

DialogPanel* make_file_open_panel(FrameWindow& frame, const PanelInput&) {
    return new FileOpenPanel(frame);
}

}  // namespace tessaly::shell
