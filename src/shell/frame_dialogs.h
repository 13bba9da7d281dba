// The frame's own windows and dialogs: what must be connected once the frame exists.
#pragma once

namespace tessaly::shell {

class FrameWindow;

// A double click on a thumbnail opens the caption and comment editor of its node.
void setup_frame_dialogs(FrameWindow& frame);

}  // namespace tessaly::shell
