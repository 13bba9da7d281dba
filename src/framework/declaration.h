// The declaration of a transformation's settings: one entry per key, in the order the command
// line writes them, each with its written form, its default, its range and what happens to a
// value outside it, and the label and unit the dialogs show. Everything else comes from it:
// defaults, writing, reading, the ranges enforced, settings files, the dialog controls, the
// reference page and the fuzz seeds.
//
//   Schema<BlurSettings>()
//       .integer("radius", &BlurSettings::radius, 3).range(0, 256).clamp().label("Radius:", "px")
//       .choice("what", &BlurSettings::what, 0, {"All Channels", "Chrominance Only"})
//       .amount("amount", &BlurSettings::amount, amount_init(0, true, amount_mode_percent))
//       .dialog(&BlurSettings::dialog, {.display = 1, .sync_scroll = 1})
//
// Modifiers (range, clamp, reject, reset, label, unit, absent, written_if, required, scale, note)
// apply to the setting declared last.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/arguments.h"
#include "core/curve.h"
#include "core/format.h"
#include "framework/amount.h"

namespace tessaly {

// Three 8-bit colour components; c1 is the low byte of the written hexadecimal value.
struct Colour {
    std::uint8_t c1 = 0, c2 = 0, c3 = 0;
    std::uint32_t value() const { return c1 | (c2 << 8) | (static_cast<std::uint32_t>(c3) << 16); }
    bool operator==(const Colour&) const = default;
};

// An optional colour: written "ffffffff" when absent.
struct OptionalColour {
    Colour colour;
    bool none = false;
    bool operator==(const OptionalColour&) const = default;
};

// The common preview settings of a dialog. Each transformation writes the ones it has, always in
// this order.
struct DialogKeys {
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;
    std::int32_t auto_preview = 1;
};
// Which of them a transformation writes, and their defaults; -1 = not written.
struct DialogDefaults {
    std::int32_t display = -1;
    std::int32_t sync_scroll = -1;
    std::int32_t auto_preview = -1;
};

// What happens to a value read outside the declared range.
enum class OutOfRange : std::uint8_t {
    accept,  // kept as read; the operation copes with it
    clamp,   // moved to the nearer end
    reject,  // the whole command line fails to parse
    reset,   // the setting returns to its default
};

enum class SettingKind : std::uint8_t {
    integer,
    flag,
    choice,
    real,
    colour,
    optional_colour,
    text,
    curve,
    amount,
    dialog,  // display, sync_scroll, auto_preview
    count,   // the number of entries of an indexed group
    group,   // an indexed group: its members' keys carry the entry number (file%d, time%d)
    custom,
};

const char* setting_kind_name(SettingKind kind);
const char* out_of_range_name(OutOfRange rule);

// What the dialogs, the reference page and the tests know of one setting.
struct SettingInfo {
    std::string key;
    SettingKind kind = SettingKind::integer;
    std::string written;       // the directive the value is written with
    std::string default_text;  // the default, as written
    bool ranged = false;
    double min = 0.0;
    double max = 0.0;
    OutOfRange rule = OutOfRange::accept;
    std::string label;
    std::string unit;
    std::vector<std::string> choices;  // names of the values 0, 1, ...
    std::string absent_text;           // what an absent key gives when that is not the default
    bool required = false;             // an absent key fails the parse
    bool conditional = false;          // written only in some states
    std::string note;
    std::vector<SettingInfo> members;  // of a group
};

// How reading one setting went.
enum class ReadOutcome { absent, read, unreadable, rejected };

template <class S>
class Schema {
  public:
    struct Setting {
        SettingInfo info;
        std::function<void(S&)> reset;   // to the default
        std::function<void(S&)> absent;  // an absent key (null: keeps the default)
        std::function<void(const S&, std::string&)> write;
        // Reads the value of `key` (the declared key, or a group member's numbered key).
        std::function<ReadOutcome(const ArgumentList&, std::string_view key, S&)> read;
        // Numeric settings: the value as a double and back (for ranges and `absent`).
        std::function<double(const S&)> get_number;
        std::function<void(S&, double)> set_number;
        std::function<bool(const S&)> written_if;  // null: always written
    };

    // --- scalar settings -------------------------------------------------------------------

    Schema&& integer(std::string_view key, std::int32_t S::*field, std::int32_t def) && {
        return std::move(*this).number(key, field, def, SettingKind::integer, "%d");
    }
    // 0 or 1 in an integer field.
    Schema&& flag(std::string_view key, std::int32_t S::*field, std::int32_t def) && {
        std::move(*this).number(key, field, def, SettingKind::flag, "%d");
        return std::move(*this).range(0, 1);
    }
    Schema&& flag(std::string_view key, bool S::*field, bool def) && {
        Setting s = base(key, SettingKind::flag, "%d");
        s.reset = [field, def](S& v) { v.*field = def; };
        s.write = [field](const S& v, std::string& out) { out += (v.*field) ? '1' : '0'; };
        s.read = [field](const ArgumentList& a, std::string_view k, S& v) {
            std::int32_t x = 0;
            const ReadOutcome r = read_int(a, k, x);
            if (r == ReadOutcome::read) v.*field = x != 0;
            return r;
        };
        s.get_number = [field](const S& v) { return (v.*field) ? 1.0 : 0.0; };
        s.set_number = [field](S& v, double x) { v.*field = x != 0.0; };
        return add(std::move(s));
    }
    // An enumeration whose values 0 .. n-1 have names; unknown values return to the default
    // unless another rule is declared.
    Schema&& choice(std::string_view key, std::int32_t S::*field, std::int32_t def,
                    std::initializer_list<const char*> names) && {
        std::move(*this).number(key, field, def, SettingKind::choice, "%d");
        for (const char* n : names) last().info.choices.emplace_back(n);
        return std::move(*this)
            .range(0, static_cast<double>(names.size()) - 1)
            .reset_out_of_range();
    }
    // directive: the written form, for example "%4f", "%4zf", "%5zf".
    Schema&& real(std::string_view key, double S::*field, std::string_view directive,
                  double def) && {
        Setting s = base(key, SettingKind::real, directive);
        s.reset = [field, def](S& v) { v.*field = def; };
        s.write = [field, d = std::string(directive)](const S& v, std::string& out) {
            out += formatted(d, v.*field);
        };
        s.read = [field](const ArgumentList& a, std::string_view k, S& v) {
            int i = 0;
            if (find_key(a, k, i)) return ReadOutcome::absent;
            double x = 0.0;
            if (parse_real(a[i], x)) return ReadOutcome::unreadable;
            v.*field = x;
            return ReadOutcome::read;
        };
        s.get_number = [field](const S& v) { return v.*field; };
        s.set_number = [field](S& v, double x) { v.*field = x; };
        real_fields_.push_back({fields_.size(), field});
        return add(std::move(s));
    }
    // A fraction of full scale, 0 to 1 (clamped), written "%4zf": the thresholds and halo limits
    // of the sharpeners.
    Schema&& fraction(std::string_view key, double S::*field, double def,
                      std::string_view label) && {
        return std::move(*this)
            .real(key, field, "%4zf", def)
            .range(0.0, 1.0)
            .label(label, "of full scale");
    }
    Schema&& colour(std::string_view key, Colour S::*field, Colour def) && {
        Setting s = base(key, SettingKind::colour, "%x");
        s.reset = [field, def](S& v) { v.*field = def; };
        s.write = [field](const S& v, std::string& out) {
            out += formatted("%x", (v.*field).value());
        };
        s.read = [field](const ArgumentList& a, std::string_view k, S& v) {
            int i = 0;
            if (find_key(a, k, i)) return ReadOutcome::absent;
            Colour& c = v.*field;
            return read_colour(a, k, c.c1, c.c2, c.c3) ? ReadOutcome::unreadable
                                                       : ReadOutcome::read;
        };
        return add(std::move(s));
    }
    Schema&& optional_colour(std::string_view key, OptionalColour S::*field,
                             OptionalColour def) && {
        Setting s = base(key, SettingKind::optional_colour, "%x");
        s.reset = [field, def](S& v) { v.*field = def; };
        s.write = [field](const S& v, std::string& out) {
            const OptionalColour& c = v.*field;
            out += c.none ? std::string("ffffffff") : formatted("%x", c.colour.value());
        };
        s.read = [field](const ArgumentList& a, std::string_view k, S& v) {
            int i = 0;
            if (find_key(a, k, i)) return ReadOutcome::absent;
            OptionalColour& c = v.*field;
            return read_optional_colour(a, k, c.colour.c1, c.colour.c2, c.colour.c3, c.none)
                       ? ReadOutcome::unreadable
                       : ReadOutcome::read;
        };
        return add(std::move(s));
    }
    // Written between ″ quotes; read cut to capacity characters.
    Schema&& text(std::string_view key, std::string S::*field, std::string_view def,
                  std::size_t capacity = 255) && {
        Setting s = base(key, SettingKind::text, "\u2033%s\u2033");
        s.reset = [field, d = std::string(def)](S& v) { v.*field = d; };
        s.write = [field](const S& v, std::string& out) { out += quoted_text(v.*field); };
        s.read = [field, capacity](const ArgumentList& a, std::string_view k, S& v) {
            int i = 0;
            if (find_key(a, k, i)) return ReadOutcome::absent;
            return read_string(a, k, v.*field, capacity) ? ReadOutcome::unreadable
                                                         : ReadOutcome::read;
        };
        s.info.note = formatted("at most %d characters", static_cast<std::int64_t>(capacity));
        return add(std::move(s));
    }
    // The compact form of Part-style curves, "npts style x0 y0 ...", as the tokens after the
    // key; a curve that does not read or is not valid keeps the default.
    Schema&& curve(std::string_view key, Curve S::*field, const Curve& def) && {
        Setting s = base(key, SettingKind::curve, "%s");
        s.reset = [field, def](S& v) { v.*field = def; };
        s.write = [field](const S& v, std::string& out) { out += curve_to_text(v.*field); };
        s.read = [field](const ArgumentList& a, std::string_view k, S& v) {
            int i = 0;
            if (find_key(a, k, i)) return ReadOutcome::absent;
            return curve_from_args(a, i, v.*field) ? ReadOutcome::unreadable : ReadOutcome::read;
        };
        return add(std::move(s));
    }
    // An amount control: six tokens; made consistent with the node's masks after reading.
    Schema&& amount(std::string_view key, AmountSettings S::*field, const AmountSettings& def) && {
        Setting s = base(key, SettingKind::amount, "%s");
        s.reset = [field, def](S& v) { v.*field = def; };
        s.write = [field](const S& v, std::string& out) { out += amount_to_text(v.*field); };
        s.read = [field](const ArgumentList& a, std::string_view k, S& v) {
            return amount_from_args(a, k, v.*field) ? ReadOutcome::absent : ReadOutcome::read;
        };
        amounts_.push_back(field);
        return add(std::move(s));
    }
    // The common preview keys this transformation writes, at this place of its command line.
    Schema&& dialog(DialogKeys S::*field, DialogDefaults def) && {
        dialog_ = field;
        const struct {
            const char* key;
            std::int32_t DialogKeys::*member;
            std::int32_t value;
            const char* label;
        } keys[] = {{"display", &DialogKeys::display, def.display, "Display"},
                    {"sync_scroll", &DialogKeys::sync_scroll, def.sync_scroll, "Sync Scroll"},
                    {"auto_preview", &DialogKeys::auto_preview, def.auto_preview, "Auto Preview"}};
        for (const auto& k : keys) {
            if (k.value < 0) continue;
            Setting s = base(k.key, SettingKind::dialog, "%d");
            auto member = k.member;
            const std::int32_t d = k.value;
            s.reset = [field, member, d](S& v) { (v.*field).*member = d; };
            s.write = [field, member](const S& v, std::string& out) {
                out += formatted("%d", (v.*field).*member);
            };
            s.read = [field, member](const ArgumentList& a, std::string_view key, S& v) {
                return read_int(a, key, (v.*field).*member);
            };
            s.info.label = k.label;
            fields_.push_back(std::move(s));
        }
        return std::move(*this);
    }
    // Anything else: the module writes and reads the value itself.
    Schema&& custom(std::string_view key, std::function<void(S&)> reset,
                    std::function<void(const S&, std::string&)> write,
                    std::function<ReadOutcome(const ArgumentList&, std::string_view, S&)> read,
                    std::string_view written = "%s") && {
        Setting s = base(key, SettingKind::custom, written);
        s.reset = std::move(reset);
        s.write = std::move(write);
        s.read = std::move(read);
        return add(std::move(s));
    }

    // --- indexed groups --------------------------------------------------------------------

    // The number of entries of a vector, written "%d"; more than max fails the parse.
    template <class E>
    Schema&& count(std::string_view key, std::vector<E> S::*field, std::int32_t max) && {
        Setting s = base(key, SettingKind::count, "%d");
        s.reset = [field](S& v) { (v.*field).clear(); };
        s.write = [field](const S& v, std::string& out) {
            out += formatted("%d", static_cast<std::int64_t>((v.*field).size()));
        };
        s.read = [field, max](const ArgumentList& a, std::string_view k, S& v) {
            std::int32_t n = 0;
            const ReadOutcome r = read_int(a, k, n);
            if (r != ReadOutcome::read) return r;
            if (n < 0 || n > max) return ReadOutcome::rejected;
            (v.*field).assign(static_cast<std::size_t>(n), E{});
            return ReadOutcome::read;
        };
        s.info.ranged = true;
        s.info.max = max;
        s.info.rule = OutOfRange::reject;
        return add(std::move(s));
    }
    // The entries of a vector (its count declared before), each with the members' keys
    // numbered from 1: "file1 ... time1 ... file2 ...". Entries start from the members'
    // defaults; a required member that is absent fails the parse.
    // omit: members left out of the written form in some states of the whole settings.
    template <class E>
    Schema&& group(std::vector<E> S::*field, Schema<E> members,
                   std::function<bool(const S&, std::string_view member_key)> omit = {}) && {
        Setting s = base("", SettingKind::group, "");
        auto shared = std::make_shared<Schema<E>>(std::move(members));
        s.reset = [field](S& v) { (v.*field).clear(); };
        s.write = [field, shared, omit](const S& v, std::string& out) {
            const auto& entries = v.*field;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                bool first = true;
                for (const auto& m : shared->settings()) {
                    if (m.written_if && !m.written_if(entries[i])) continue;
                    if (omit && omit(v, m.info.key)) continue;
                    if (!first) out += ' ';
                    first = false;
                    out += numbered(m.info.key, i + 1);
                    out += ' ';
                    m.write(entries[i], out);
                }
                if (i + 1 < entries.size()) out += ' ';
            }
        };
        s.read = [field, shared](const ArgumentList& a, std::string_view, S& v) {
            auto& entries = v.*field;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                shared->defaults(entries[i]);
                for (const auto& m : shared->settings()) {
                    const std::string key = numbered(m.info.key, i + 1);
                    if (shared->read_one(m, a, key, entries[i])) return ReadOutcome::rejected;
                }
            }
            return ReadOutcome::read;
        };
        s.written_if = [field](const S& v) { return !(v.*field).empty(); };
        s.info.members = shared->describe();
        if (omit) s.info.conditional = true;
        return add(std::move(s));
    }

    // --- modifiers of the setting declared last ----------------------------------------------

    Schema&& range(double min, double max) && {
        last().info.ranged = true;
        last().info.min = min;
        last().info.max = max;
        if (last().info.rule == OutOfRange::accept) last().info.rule = OutOfRange::clamp;
        return std::move(*this);
    }
    Schema&& clamp() && { return std::move(*this).rule(OutOfRange::clamp); }
    Schema&& reject() && { return std::move(*this).rule(OutOfRange::reject); }
    Schema&& reset_out_of_range() && { return std::move(*this).rule(OutOfRange::reset); }
    Schema&& accept_out_of_range() && { return std::move(*this).rule(OutOfRange::accept); }
    Schema&& label(std::string_view text, std::string_view unit = {}) && {
        last().info.label = text;
        last().info.unit = unit;
        return std::move(*this);
    }
    Schema&& unit(std::string_view text) && {
        last().info.unit = text;
        return std::move(*this);
    }
    Schema&& note(std::string_view text) && {
        last().info.note = text;
        return std::move(*this);
    }
    // The value an absent key gives, when that is not the default (older command lines).
    Schema&& absent(double value) && {
        Setting& s = last();
        auto set = s.set_number;
        s.absent = [set, value](S& v) { set(v, value); };
        s.info.absent_text = format_number(s, value);
        return std::move(*this);
    }
    Schema&& absent(std::function<void(S&)> apply, std::string_view description) && {
        last().absent = std::move(apply);
        last().info.absent_text = description;
        return std::move(*this);
    }
    Schema&& required() && {
        last().info.required = true;
        return std::move(*this);
    }
    Schema&& written_if(std::function<bool(const S&)> condition) && {
        last().written_if = std::move(condition);
        last().info.conditional = true;
        return std::move(*this);
    }
    // A real written as the field divided by factor (pixels held, megapixels written).
    Schema&& scale(double factor) && {
        Setting& s = last();
        for (const auto& r : real_fields_) {
            if (r.index != fields_.size() - 1) continue;
            auto field = r.field;
            const std::string d = s.info.written;
            s.write = [field, d, factor](const S& v, std::string& out) {
                out += formatted(d, v.*field / factor);
            };
            auto read = s.read;
            s.read = [read, field, factor](const ArgumentList& a, std::string_view k, S& v) {
                const ReadOutcome o = read(a, k, v);
                if (o == ReadOutcome::read) v.*field *= factor;
                return o;
            };
            s.get_number = [field, factor](const S& v) { return v.*field / factor; };
            s.set_number = [field, factor](S& v, double x) { v.*field = x * factor; };
            s.info.default_text.clear();
        }
        return std::move(*this);
    }

    // --- what the framework does with the declaration ----------------------------------------

    // Every setting at its default.
    void defaults(S& s) const {
        for (const Setting& f : fields_) {
            if (f.reset) f.reset(s);
        }
    }
    S defaults() const {
        S s{};
        defaults(s);
        return s;
    }

    // "keyword version key value key value ..." in the declared order.
    std::string format(std::string_view keyword, std::string_view version, const S& s) const {
        PlainSeparators plain;
        std::string out(keyword);
        out += ' ';
        out += version;
        for (const Setting& f : fields_) {
            if (f.written_if && !f.written_if(s)) continue;
            out += ' ';
            if (f.info.kind != SettingKind::group) {
                out += f.info.key;
                out += ' ';
            }
            f.write(s, out);
        }
        return out;
    }

    // Reads every declared key that is present into s (which holds the defaults or other
    // values to keep); absent keys keep theirs or take their declared absent value; values
    // outside their range follow their rule. true when the command line is rejected.
    bool read(const ArgumentList& args, S& s) const {
        PlainSeparators plain;
        for (const Setting& f : fields_) {
            if (read_one(f, args, f.info.key, s)) return true;
        }
        return false;
    }

    // Applies the range rules to values that did not come from a command line (a dialog's
    // controls, input defaults). true when one is rejected.
    bool enforce(S& s) const {
        for (const Setting& f : fields_) {
            if (enforce_one(f, s)) return true;
        }
        return false;
    }

    const std::vector<Setting>& settings() const { return fields_; }
    // The amount controls, in declared order (the first is the one the framework mixes with).
    const std::vector<AmountSettings S::*>& amounts() const { return amounts_; }
    // The preview keys, when the transformation writes any.
    std::optional<DialogKeys S::*> dialog_keys() const { return dialog_; }

    // Infos of every setting, defaults written out.
    std::vector<SettingInfo> describe() const {
        const S d = defaults();
        std::vector<SettingInfo> out;
        for (const Setting& f : fields_) {
            SettingInfo i = f.info;
            if (f.info.kind != SettingKind::group) {
                std::string text;
                PlainSeparators plain;
                f.write(d, text);
                i.default_text = text;
            }
            out.push_back(std::move(i));
        }
        return out;
    }

    // One setting from its key (which may be numbered); true when the command line is rejected.
    bool read_one(const Setting& f, const ArgumentList& args, std::string_view key, S& s) const {
        switch (f.read(args, key, s)) {
            case ReadOutcome::rejected:
                return true;
            case ReadOutcome::absent:
                if (f.info.required) return true;
                if (f.absent) f.absent(s);
                return false;
            case ReadOutcome::unreadable:
                return false;
            case ReadOutcome::read:
                break;
        }
        return enforce_one(f, s);
    }

  private:
    struct RealField {
        std::size_t index;
        double S::*field;
    };

    static ReadOutcome read_int(const ArgumentList& a, std::string_view k, std::int32_t& out) {
        int i = 0;
        if (find_key(a, k, i)) return ReadOutcome::absent;
        return parse_integer(a[i], out) ? ReadOutcome::unreadable : ReadOutcome::read;
    }
    static std::string numbered(const std::string& key, std::size_t n) {
        return formatted(key, static_cast<std::int64_t>(n));
    }
    static std::string format_number(const Setting& s, double value) {
        PlainSeparators plain;
        if (s.info.kind == SettingKind::real) return formatted(s.info.written, value);
        return formatted("%d", static_cast<std::int64_t>(std::llround(value)));
    }

    Schema&& number(std::string_view key, std::int32_t S::*field, std::int32_t def,
                    SettingKind kind, std::string_view written) && {
        Setting s = base(key, kind, written);
        s.reset = [field, def](S& v) { v.*field = def; };
        s.write = [field](const S& v, std::string& out) { out += formatted("%d", v.*field); };
        s.read = [field](const ArgumentList& a, std::string_view k, S& v) {
            return read_int(a, k, v.*field);
        };
        s.get_number = [field](const S& v) { return static_cast<double>(v.*field); };
        s.set_number = [field](S& v, double x) {
            v.*field = static_cast<std::int32_t>(std::llround(x));
        };
        return add(std::move(s));
    }

    bool enforce_one(const Setting& f, S& s) const {
        if (!f.info.ranged || !f.get_number || f.info.rule == OutOfRange::accept) return false;
        const double v = f.get_number(s);
        if (v >= f.info.min && v <= f.info.max) return false;
        switch (f.info.rule) {
            case OutOfRange::clamp:
                // NaN compares false both ways: it goes to the lower end.
                f.set_number(s, v > f.info.max ? f.info.max : f.info.min);
                return false;
            case OutOfRange::reset:
                f.reset(s);
                return false;
            case OutOfRange::reject:
                return true;
            default:
                return false;
        }
    }

    Setting base(std::string_view key, SettingKind kind, std::string_view written) {
        Setting s;
        s.info.key = key;
        s.info.kind = kind;
        s.info.written = written;
        return s;
    }
    Schema&& add(Setting s) {
        fields_.push_back(std::move(s));
        return std::move(*this);
    }
    Schema&& rule(OutOfRange r) && {
        last().info.rule = r;
        return std::move(*this);
    }
    Setting& last() { return fields_.back(); }

    std::vector<Setting> fields_;
    std::vector<RealField> real_fields_;
    std::vector<AmountSettings S::*> amounts_;
    std::optional<DialogKeys S::*> dialog_;
};

}  // namespace tessaly
