// Running and reading transformations through their registry rows, as scripts do.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/arguments.h"
#include "framework/module.h"
#include "framework/registry.h"

namespace tessaly::testing {

// Runs a command line from its registry row: node's result from input (null for a top level
// image). Returns the error flag.
inline std::uint8_t run_line(Node* input, Node* node, std::string_view line) {
    const ArgumentList args = split(line);
    const TransformationEntry* e = args.count() > 0 ? find_transformation(args[0]) : nullptr;
    if (!e) {
        ADD_FAILURE() << "no registry row for " << line;
        return 1;
    }
    return e->run(input, node, args);
}

// What a command line means: parsed against node's masks and written back. An empty string
// when the line does not parse (or has no module).
inline std::string normalised(std::string_view line, Node* node = nullptr, Node* input = nullptr) {
    const ArgumentList args = split(line);
    const TransformationModule* m = args.count() > 0 ? find_module(args[0]) : nullptr;
    std::string out;
    if (!m || m->normalise(args, input, node, out)) return {};
    return out;
}

inline std::string default_line(std::string_view keyword) {
    const TransformationModule* m = find_module(keyword);
    return m ? m->default_command_line() : std::string();
}

}  // namespace tessaly::testing
