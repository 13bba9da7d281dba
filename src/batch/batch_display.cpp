#include "batch/batch_display.h"

#include "core/interaction.h"

namespace tessaly {

namespace {

InteractionBatchDisplay fallback_display;
BatchDisplay* installed_display = nullptr;

}  // namespace

void InteractionBatchDisplay::open(int steps) {
    interaction().progress_begin("Batch Progress", steps);
}

void InteractionBatchDisplay::close() {
    interaction().progress_end();
}

void InteractionBatchDisplay::current_file(std::string_view line) {
    interaction().status(line);
}

void InteractionBatchDisplay::status(std::string_view text) {
    interaction().status(text);
}

void InteractionBatchDisplay::progress(int done) {
    interaction().progress_update(done);
}

bool InteractionBatchDisplay::pump() {
    return interaction().progress_cancelled();
}

BatchDisplay& batch_display() {
    return installed_display ? *installed_display : fallback_display;
}

BatchDisplay* set_batch_display(BatchDisplay* display) {
    BatchDisplay* previous = installed_display;
    installed_display = display;
    return previous;
}

}  // namespace tessaly
