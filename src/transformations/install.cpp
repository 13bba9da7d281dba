#include "transformations/install.h"

#include "fileio/file_new.h"
#include "fileio/file_open.h"
#include "framework/registry.h"
#include "masks/amount_control.h"
#include "transformations/bypass.h"
#include "transformations/change_profile.h"
#include "transformations/convert.h"
#include "transformations/copy.h"
#include "transformations/gaussian_blur.h"
#include "transformations/masks.h"
#include "transformations/resize.h"
#include "transformations/rotref.h"
#include "transformations/sharpen.h"
#include "transformations/unsharp_mask.h"

namespace tessaly {

// One line per written module; every other row keeps the "not available" run entry. Masks are
// rebuilt from their recipes before every run without a dialog.
void install_transformations() {
    install_mask_preparer();
    install_transformation("bypass", bypass_run_entry, bypass_dialog_entry);
    install_transformation("change_profile", change_profile_run_entry, nullptr);
    install_transformation("convert", convert_run_entry, nullptr);
    install_transformation("copy", copy_run_entry, nullptr);
    install_transformation("file_new", file_new_run_entry, nullptr);
    install_transformation("file_open", file_open_run_entry, nullptr);
    install_transformation("gaussian_blur", gaussian_blur_run_entry, nullptr);
    install_transformation("masks", masks_run_entry, nullptr);
    install_transformation("resize", resize_run_entry, nullptr);
    install_transformation("rotref", rotref_run_entry, nullptr);
    install_transformation("sharpen", sharpen_run_entry, nullptr);
    install_transformation("unsharp_mask", unsharp_mask_run_entry, nullptr);
}

}  // namespace tessaly
