#include "batch/engine.h"

#include "color/color_transform.h"
#include "masks/amount_control.h"
#include "workspace/startup.h"

namespace tessaly {

void install_engine() {
    install_mask_preparer();
    install_workspace_hooks();
    install_color_transforms();
}

}  // namespace tessaly
