// Running existing nodes from their command lines: one node (re-runs, scripts, batches) and the
// nodes marked downstream of a selection.
#pragma once

#include "framework/node.h"

namespace tessaly {

inline constexpr const char* bad_input_image = "Bad input image";

// Runs node from its command line with the effective image of parent as input (none for a top
// level image). Returns the node's error flag, or true when it could not be started.
bool run_node(Node* parent, Node* node);

// Asked before each node while a batch runs; true stops the node. The batch layer installs its
// check so that its progress window stays responsive; without one the batch abort flag decides.
void set_batch_stop_check(bool (*check)());

// Runs every node marked downstream (relation 2) once all of its sources are done, then checks
// for cycles and clears the marks. true when the cycle check found one.
bool rerun_marked();

}  // namespace tessaly
