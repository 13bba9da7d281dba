// Bypass: a pass-through node that later nodes can refer to as a stable point of the tree. Its
// image is always its input's, so it has no settings and nothing to compute (bypass.cpp).
#pragma once

#include "framework/node.h"

namespace tessaly {

// The whole command line of a Bypass node.
inline constexpr const char* bypass_command_line = "bypass";
inline constexpr const char* bypass_caption = "Bypass";

// The menu command: a Bypass node after current holding a copy of its effective image; extra
// input slots that refer to that image may be moved onto the new node (asked "Confirm"); then
// everything downstream re-runs. The new node becomes current. null on failure.
Node* insert_bypass(Node* current);

}  // namespace tessaly
