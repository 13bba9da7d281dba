#include "catalogue.h"

#include <filesystem>
#include <vector>

#include "core/format.h"
#include "core/text_file.h"
#include "framework/describe.h"
#include "framework/module.h"
#include "framework/registry.h"

namespace tessaly::cli {

namespace {

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

// --- markdown ------------------------------------------------------------------------------------

// A table cell: a pipe would end it.
std::string cell(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '|') out += '\\';
        out += c;
    }
    return out;
}

// A code span that holds any text, backticks included.
std::string code(std::string_view text) {
    if (text.empty()) return "(empty)";
    const std::string fence = text.find('`') == std::string_view::npos ? "`" : "``";
    const char* pad = fence.size() > 1 ? " " : "";
    return fence + pad + cell(text) + pad + fence;
}

std::string notes_cell(const SettingInfo& s) {
    std::string out;
    auto add = [&](const std::string& text) {
        if (text.empty()) return;
        if (!out.empty()) out += "; ";
        out += text;
    };
    add(choices_text(s));
    for (const std::string& remark : setting_remarks(s)) add(remark);
    return cell(out);
}

void add_setting_rows(std::string& out, const SettingInfo& s, const std::string& prefix) {
    if (s.kind == SettingKind::group) {
        for (const SettingInfo& m : s.members) add_setting_rows(out, m, "each entry: ");
        return;
    }
    const std::string range = range_text(s);
    out += formatted(
        "| %s%s | %s | %s | %s | %s | %s | %s |\n", prefix, code(s.key), setting_kind_name(s.kind),
        code(s.written), code(s.default_text),
        range.empty() ? std::string() : formatted("%s (%s)", range, out_of_range_name(s.rule)),
        cell(label_text(s)), notes_cell(s));
}

void add_module_section(std::string& out, const TransformationEntry& entry) {
    const TransformationModule& m = *entry.module;
    out += formatted("<a id=\"%s\"></a>\n\n### %s (`%s`)\n\n", entry.keyword, entry.display_name,
                     entry.keyword);
    out += "| | |\n|---|---|\n";
    out += formatted("| Settings files | folder \"%s\", extension \"%s\" |\n",
                     cell(m.settings_name().name), cell(m.settings_name().extension));
    out +=
        formatted("| Version | %s |\n",
                  m.version().empty() ? std::string("none: the command line is the keyword alone")
                                      : code(m.version()));
    out += formatted("| Kind | %s |\n", module_kind_name(m.kind()));
    out += formatted("| Input types | %s |\n", cell(type_set_text(m.types(), !m.reads_binary())));
    out += formatted("| Mixing | %s |\n", cell(mixing_text(m)));
    out += formatted("| Registry | %s |\n\n", cell(registry_row_text(entry)));
    out += "Default command line:\n\n    " + m.default_command_line() + "\n\n";
    const std::vector<SettingInfo> settings = m.describe();
    if (settings.empty()) {
        out += "No settings.\n\n";
        return;
    }
    out +=
        "| Key | Kind | Written | Default | Range | Label | Values and notes |\n"
        "|---|---|---|---|---|---|---|\n";
    for (const SettingInfo& s : settings) add_setting_rows(out, s, "");
    out += "\n";
}

// --- fuzz seeds ----------------------------------------------------------------------------------

bool numeric(SettingKind kind) {
    switch (kind) {
        case SettingKind::integer:
        case SettingKind::flag:
        case SettingKind::choice:
        case SettingKind::real:
        case SettingKind::count:
            return true;
        default:
            return false;
    }
}

// The default line with key's value replaced, or the key added when the line leaves it out.
std::string with_value(const std::string& line, const SettingInfo& s, const std::string& value) {
    const std::string old = " " + s.key + " " + s.default_text;
    for (std::size_t at = line.find(old); at != std::string::npos; at = line.find(old, at + 1)) {
        const std::size_t end = at + old.size();
        if (end == line.size() || line[end] == ' ') {
            return line.substr(0, at) + " " + s.key + " " + value + line.substr(end);
        }
    }
    return line + " " + s.key + " " + value;
}

// One entry of a group, its members at their defaults.
std::string group_entry(const SettingInfo& group) {
    std::string out;
    for (const SettingInfo& m : group.members) {
        out += " " + formatted(m.key, 1) + " " + m.default_text;
    }
    return out;
}

struct Seed {
    std::string name;
    std::string text;
};

std::vector<Seed> seeds_of(const TransformationModule& m) {
    const std::string line = m.default_command_line();
    const std::string base = std::string("gen-") + m.keyword();
    std::vector<Seed> out{{base, line}};
    const std::vector<SettingInfo> settings = m.describe();
    auto add = [&](const SettingInfo& s, const char* suffix, const std::string& text) {
        out.push_back({base + "-" + s.key + "-" + suffix, text});
    };
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const SettingInfo& s = settings[i];
        if (s.kind == SettingKind::count) {
            // The entries the count announces come from the group declared after it.
            for (std::size_t g = i + 1; g < settings.size(); ++g) {
                if (settings[g].kind != SettingKind::group) continue;
                add(s, "one", with_value(line, s, "1") + group_entry(settings[g]));
                break;
            }
        }
        if (!numeric(s.kind)) continue;
        if (s.ranged) {
            add(s, "min", with_value(line, s, setting_number_text(s, s.min)));
            add(s, "max", with_value(line, s, setting_number_text(s, s.max)));
            add(s, "below", with_value(line, s, setting_number_text(s, s.min - 1.0)));
            add(s, "above", with_value(line, s, setting_number_text(s, s.max + 1.0)));
        } else {
            // No declared range: what the operation must cope with.
            add(s, "negative", with_value(line, s, setting_number_text(s, -1.0)));
            add(s, "large", with_value(line, s, setting_number_text(s, 2147483647.0)));
        }
    }
    return out;
}

}  // namespace

std::string list_text() {
    std::string out;
    for (const TransformationEntry& e : registry_rows()) {
        if (!e.keyword) break;
        out += padded(e.keyword, 22) + padded(e.module ? "built" : "not-built", 10) +
               e.display_name + "\n";
    }
    return out;
}

bool describe_keyword(std::string_view keyword, std::string& out) {
    const TransformationEntry* e = find_transformation(keyword);
    if (!e) return false;
    out = describe_row_text(*e);
    return true;
}

std::string reference_page() {
    std::vector<const TransformationEntry*> rows;
    int built = 0;
    for (const TransformationEntry& e : registry_rows()) {
        if (!e.keyword) break;
        rows.push_back(&e);
        built += e.module ? 1 : 0;
    }
    std::string out =
        "# Transformations\n\n"
        "<!-- Generated by `tessaly-cli --reference` from the registry and the modules' "
        "declarations.\n     Do not edit by hand: run scripts/update-reference. -->\n\n"
        "Every transformation is one row of the registry. Its keyword starts its command line: "
        "the one\nline of settings that its dialog edits, its settings files hold and scripts, "
        "workspaces and\nbatches replay; `tessaly-cli --apply \"COMMAND LINE\"` runs one.\n\n";
    out += formatted(
        "%d of the %d rows are built; running any other fails with \"Transformation "
        "not available:\nKEYWORD\". `tessaly-cli --describe KEYWORD` prints the "
        "description of one row, `tessaly-cli --list`\nlists them all.\n\n",
        built, static_cast<std::int64_t>(rows.size()));
    out +=
        "In the settings tables, keys are listed in the order the command line writes them. "
        "\"Written\" is\nthe directive of the program's formatter (`%d`, `%x`, `%4zf`: four "
        "decimals, trailing zeros\nstripped). After the range comes what a value outside it "
        "does: clamp (moved to the nearer\nend), reject (the whole command line fails to "
        "parse: \"Illegal ... command line\"), default\n(set back to its default) or accept "
        "(kept as read). Keys that are absent keep their defaults.\n\n";
    out +=
        "## All transformations\n\n"
        "| Keyword | Name | Menu command | Masks | Extra inputs | Built |\n"
        "|---|---|---|---|---|---|\n";
    auto count_text = [](std::int32_t n) {
        return n < 0 ? std::string("any") : formatted("%d", n);
    };
    for (const TransformationEntry* e : rows) {
        const std::string key =
            e->module ? formatted("[`%s`](#%s)", e->keyword, e->keyword) : code(e->keyword);
        out += formatted("| %s | %s | %d | %s | %s | %s |\n", key, cell(e->display_name),
                         e->command_id, count_text(e->max_masks), count_text(e->max_inputs),
                         e->module ? "built" : "not yet");
    }
    out += "\n## Built transformations\n\n";
    for (const TransformationEntry* e : rows) {
        if (e->module) add_module_section(out, *e);
    }
    while (out.size() > 1 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n') {
        out.pop_back();
    }
    return out;
}

bool write_fuzz_seeds(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        show_error("Cannot create folder: %s", folder);
        return true;
    }
    for (const TransformationModule* m : built_modules()) {
        for (const Seed& seed : seeds_of(*m)) {
            const std::string path = (std::filesystem::path(folder) / seed.name).string();
            if (write_file_atomic(path, seed.text)) {
                show_error("Error writing file: %s", path);
                return true;
            }
        }
    }
    return false;
}

}  // namespace tessaly::cli
