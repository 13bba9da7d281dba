#include "framework/describe.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"

namespace tessaly {

namespace {

const char* type_text(std::uint32_t type) {
    switch (type) {
        case image_float_gray:
            return "floating-point gray (internal)";
        case image_float_color:
            return "floating-point color (internal)";
        default:
            return image_type_name(type);
    }
}

bool is_integral(SettingKind kind) {
    return kind != SettingKind::real;
}

std::string first_amount_key(const TransformationModule& module) {
    for (const SettingInfo& s : module.describe()) {
        if (s.kind == SettingKind::amount) return s.key;
    }
    return {};
}

std::string plural(std::int64_t n, const char* one, const char* many) {
    return formatted("%d %s", n, n == 1 ? one : many);
}

void add_setting_lines(std::string& out, const SettingInfo& s, const std::string& indent) {
    constexpr int key_width = 18;
    const std::string more(indent.size() + key_width, ' ');
    std::string head = indent + s.key;
    if (s.kind == SettingKind::group) {
        out += indent + "(entries, each with these keys numbered from 1)\n";
        for (const SettingInfo& m : s.members) add_setting_lines(out, m, indent + "  ");
        return;
    }
    head.resize(std::max(head.size() + 1, more.size()), ' ');
    out += formatted("%s%s, written %s, default %s\n", head, setting_kind_name(s.kind), s.written,
                     s.default_text);
    const std::string range = range_text(s);
    if (!range.empty())
        out += formatted("%srange %s; %s\n", more, range, out_of_range_text(s.rule));
    const std::string choices = choices_text(s);
    if (!choices.empty()) out += formatted("%svalues: %s\n", more, choices);
    const std::string label = label_text(s);
    if (!label.empty()) out += formatted("%slabel: %s\n", more, label);
    for (const std::string& remark : setting_remarks(s)) out += more + remark + "\n";
}

}  // namespace

std::string type_set_text(TypeSet types, bool gray_view) {
    std::string out;
    for (std::uint32_t t = image_binary; t <= image_float_color; ++t) {
        if (!(types & type_bit(t))) continue;
        if (!out.empty()) out += ", ";
        out += type_text(t);
    }
    if (out.empty()) return "none";
    if (gray_view && (types & type_bit(image_gray8)) && !(types & type_bit(image_binary))) {
        out += formatted("; %s input arrives as %s", image_type_name(image_binary),
                         image_type_name(image_gray8));
    }
    return out;
}

std::string mixing_text(const TransformationModule& module) {
    const ModuleKind kind = module.kind();
    const std::string amount = first_amount_key(module);
    const bool framework_mixes =
        kind == ModuleKind::point || kind == ModuleKind::area || kind == ModuleKind::image;
    if (!framework_mixes) {
        return amount.empty() ? std::string("none")
                              : formatted("by the operation itself (amount \"%s\")", amount);
    }
    if (amount.empty()) return "none: the result replaces the input";
    switch (module.mixing()) {
        case Mixing::two_sets:
            return formatted(
                "two settings sets through the amount \"%s\": with its mask in use, set 0 where "
                "the mask is white and set 1 where it is black, else in place",
                amount);
        case Mixing::none:
            return formatted("by the operation itself through the amount \"%s\" and its mask rows",
                             amount);
        default:
            return formatted("in place through the amount \"%s\" and its mask", amount);
    }
}

std::string registry_row_text(const TransformationEntry& entry) {
    std::string out = formatted("menu command %d", entry.command_id);
    out += ", ";
    out += entry.max_masks < 0 ? std::string("any number of masks")
                               : plural(entry.max_masks, "mask", "masks");
    out += ", ";
    out += entry.max_inputs < 0 ? std::string("any number of extra inputs")
                                : plural(entry.max_inputs, "extra input", "extra inputs");
    if (entry.no_edit) out += ", not editable once made";
    return out;
}

std::string setting_number_text(const SettingInfo& info, double value) {
    PlainSeparators plain;
    if (!is_integral(info.kind)) return formatted(info.written, value);
    return formatted("%d", static_cast<std::int64_t>(std::llround(value)));
}

std::string range_text(const SettingInfo& info) {
    if (!info.ranged) return {};
    return setting_number_text(info, info.min) + " .. " + setting_number_text(info, info.max);
}

std::string out_of_range_text(OutOfRange rule) {
    switch (rule) {
        case OutOfRange::clamp:
            return "a value outside is moved to the nearer end";
        case OutOfRange::reject:
            return "a value outside rejects the command line";
        case OutOfRange::reset:
            return "a value outside returns to the default";
        default:
            return "a value outside is kept as read";
    }
}

std::string choices_text(const SettingInfo& info) {
    std::string out;
    for (std::size_t i = 0; i < info.choices.size(); ++i) {
        if (info.choices[i].empty()) continue;  // a value the setting never takes
        if (!out.empty()) out += ", ";
        out += formatted("%d %s", static_cast<std::int64_t>(i), info.choices[i]);
    }
    return out;
}

std::vector<std::string> setting_remarks(const SettingInfo& info) {
    std::vector<std::string> out;
    if (info.required) out.emplace_back("required: a command line without it is rejected");
    if (info.conditional) out.emplace_back("written only in some states of the settings");
    if (!info.absent_text.empty()) out.push_back("when absent: " + info.absent_text);
    if (!info.note.empty()) out.push_back(info.note);
    return out;
}

std::string label_text(const SettingInfo& info) {
    if (info.label.empty()) return info.unit.empty() ? std::string() : "(" + info.unit + ")";
    if (info.unit.empty()) return formatted("\"%s\"", info.label);
    return formatted("\"%s\" (%s)", info.label, info.unit);
}

std::string describe_row_text(const TransformationEntry& entry) {
    std::string out = formatted("%s (%s)\n", entry.display_name, entry.keyword);
    const TransformationModule* m = entry.module;
    if (!m) {
        out += formatted("  registry:        %s\n", registry_row_text(entry));
        out += formatted(
            "  Not built yet: running it fails with \"Transformation not available: "
            "%s\".\n",
            entry.keyword);
        return out;
    }
    const SettingsName& files = m->settings_name();
    out += formatted("  settings files:  folder \"%s\", extension \"%s\"\n", files.name,
                     files.extension);
    out += formatted("  version:         %s\n", m->version().empty()
                                                    ? std::string("none (the keyword alone)")
                                                    : std::string(m->version()));
    out += formatted("  kind:            %s\n", module_kind_name(m->kind()));
    out += formatted("  input types:     %s\n", type_set_text(m->types(), !m->reads_binary()));
    out += formatted("  mixing:          %s\n", mixing_text(*m));
    out += formatted("  registry:        %s\n", registry_row_text(entry));
    const std::vector<SettingInfo> settings = m->describe();
    if (settings.empty()) {
        out += "\nNo settings.\n";
    } else {
        out += "\nSettings, in the order the command line writes them:\n";
        for (const SettingInfo& s : settings) add_setting_lines(out, s, "  ");
    }
    out += "\nDefault command line:\n  " + m->default_command_line() + "\n";
    return out;
}

}  // namespace tessaly
