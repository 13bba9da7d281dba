// What a person sees of a running batch: the "Batch Progress" window (current file line, status
// line, thumbnail, Terminate button), the Image Browser that is locked meanwhile, and the File
// Open dialog's file list. The desktop program installs a window; without one the batch reports
// through the Interaction.
#pragma once

#include <string_view>

#include "core/image.h"
#include "framework/node.h"

namespace tessaly {

class BatchDisplay {
  public:
    virtual ~BatchDisplay() = default;

    // The progress window; steps is the number of files (or steps of several lists) to come.
    virtual void open(int steps) = 0;
    virtual void close() = 0;
    // "Current file: ..." and the status line below it.
    virtual void current_file(std::string_view line) = 0;
    virtual void status(std::string_view text) = 0;
    // Draws the image into the thumbnail square and repaints.
    virtual void thumbnail(const Image& image) = 0;
    // Steps finished so far.
    virtual void progress(int done) = 0;
    // Dispatches the window's pending messages; true when Terminate was pressed meanwhile.
    virtual bool pump() = 0;
    // The Image Browser is disabled while a batch runs, so the tree cannot be edited.
    virtual void enable_browser(bool enabled) = 0;
    // The File Open node's list (its current file) changed.
    virtual void file_list_changed(Node* file_open_node) = 0;
};

// The display without a window: the two text lines go to the Interaction's status line, the
// steps to its progress report, whose cancel is the Terminate button. There is no thumbnail,
// Image Browser or file list to update.
class InteractionBatchDisplay : public BatchDisplay {
  public:
    void open(int steps) override;
    void close() override;
    void current_file(std::string_view line) override;
    void status(std::string_view text) override;
    void thumbnail(const Image&) override {}
    void progress(int done) override;
    bool pump() override;
    void enable_browser(bool) override {}
    void file_list_changed(Node*) override {}
};

// The display batches use (the Interaction one until another is installed); returns the
// previous one, nullptr meaning the Interaction one.
BatchDisplay& batch_display();
BatchDisplay* set_batch_display(BatchDisplay* display);

}  // namespace tessaly
