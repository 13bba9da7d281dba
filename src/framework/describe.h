// Plain-language descriptions of a transformation, made from its registry row and its module's
// declaration: what the command-line program lists and describes, what the reference page says,
// and what a dialog can show beside a control. Nothing here is written by hand per module.
#pragma once

#include <string>
#include <vector>

#include "framework/declaration.h"
#include "framework/module.h"
#include "framework/registry.h"

namespace tessaly {

// "8-bit Black and White, 24-bit Color"; with gray_view, a note that binary input arrives as
// 8-bit gray when 8-bit gray is accepted.
std::string type_set_text(TypeSet types, bool gray_view);
// How the module's result meets its input: the framework's mixing through which amount, or the
// operation's own doing.
std::string mixing_text(const TransformationModule& module);
// The registry's facts of a row: menu command, masks, extra inputs, whether it can be edited.
std::string registry_row_text(const TransformationEntry& entry);

// A declared value as text: integers as such, reals in their written form.
std::string setting_number_text(const SettingInfo& info, double value);
// "0 .. 256"; "" when the setting has no declared range.
std::string range_text(const SettingInfo& info);
// What a value outside the range does: "clamped to the range", "rejects the command line", ...
std::string out_of_range_text(OutOfRange rule);
// "0 All Channels, 1 Chrominance Only"; "" when the setting has no named values.
std::string choices_text(const SettingInfo& info);
// The remarks of a setting beyond its kind, range and choices: required, conditional, what an
// absent key gives, the declared note.
std::vector<std::string> setting_remarks(const SettingInfo& info);
// The label and unit as a dialog shows them: "Radius: (pixels)"; "" when neither is declared.
std::string label_text(const SettingInfo& info);

// One registry row described as indented text: the module's names, kind, types, mixing, every
// setting and the default command line; a row without a module says that it is not built yet.
std::string describe_row_text(const TransformationEntry& entry);

}  // namespace tessaly
