// How a program that works on large pictures asks the system for its memory. Called first thing
// in main, before any thread starts.
#pragma once

namespace tessaly {

// Where the system hands out huge pages only on request, the allocator asks for them when its
// tunable says so. It reads tunables once, at start, so the program starts itself again (argv
// as given) with the tunable set: a picture's first touch then faults once per 2 MB instead of
// once per 4 KB, which on virtual machines is a quarter of a large file's save. Where exec
// fails, nothing changes. Then large freed blocks are kept for reuse instead of being handed
// back to the system, so that every new picture does not pay the page faults again.
void tune_process_memory(char** argv);

}  // namespace tessaly
