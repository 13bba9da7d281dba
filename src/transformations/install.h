// Puts the run entries of the written modules into the registry. Called once at start-up by
// every program (and by the tests) before anything runs a node.
#pragma once

namespace tessaly {

void install_transformations();

}  // namespace tessaly
