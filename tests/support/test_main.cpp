#include <gtest/gtest.h>

#include "support/recording_interaction.h"
#ifdef TESSALY_TEST_ENGINE
#include "batch/engine.h"
#endif

namespace {
// No test may talk to a person: unless a test installs its own recorder, messages are recorded
// here and dropped.
tessaly::testing::RecordingInteraction quiet;
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tessaly::set_interaction(&quiet);
#ifdef TESSALY_TEST_ENGINE
    tessaly::install_engine();
#endif
    return RUN_ALL_TESTS();
}
