#include "framework/registry.h"

#include <cctype>

#include "core/format.h"
#include "framework/transformation.h"

namespace tessaly {

namespace {

// The rows in their stored order, ended by an all-zero row. Modules register themselves into
// their rows at start-up (register_module); until then a row runs run_not_available.
TransformationEntry rows[registry_size + 1] = {
    {"add_border", run_not_available, nullptr, false, 0, 1, 1222, "Add Border", 0},
    {"add_texture", run_not_available, nullptr, false, 1, 1, 1232, "Add Texture", 0},
    {"adjust", run_not_available, nullptr, false, 1, 0, 1267, "Adjust", 0},
    {"advanced_sharpen", run_not_available, nullptr, false, 1, 0, 1270, "Advanced Sharpen", 0},
    {"arrow", run_not_available, nullptr, false, 1, 0, 1351, "Lines, Arrows, Text", 0},
    {"autorange", run_not_available, nullptr, false, 1, 0, 1278, "Autorange", 0},
    {"blend", run_not_available, nullptr, false, 1, 1, 1300, "Blend", 0},
    {"blur", run_not_available, nullptr, false, 1, 0, 1268, "Blur", 0},
    {"brightness", run_not_available, nullptr, false, 1, 0, 1234, "Brightness", 0},
    {"brightness_curve", run_not_available, nullptr, false, 1, 0, 1200, "Brightness Curve", 0},
    {"bypass", run_not_available, nullptr, true, 0, 0, 1204, "Bypass", 0},
    {"calendar", run_not_available, nullptr, false, 0, 0, 1289, "Calendar", 0},
    {"change_profile", run_not_available, nullptr, false, 0, 0, 1201, "Change Profile", 0},
    {"checkerboard", run_not_available, nullptr, false, 0, 0, 1276, "Checkerboard", 0},
    {"chromatic_aberration", run_not_available, nullptr, false, 0, 0, 1299, "Chromatic Aberration",
     0},
    {"clone", run_not_available, nullptr, false, 1, -1, 1350, "Clone", 0},
    {"color_balance", run_not_available, nullptr, false, 1, 0, 1248, "Color Balance", 0},
    {"color_chart", run_not_available, nullptr, true, 0, 0, 1271, "Color Chart", 0},
    {"color_curves", run_not_available, nullptr, false, 1, 0, 1205, "Color Curves", 0},
    {"color_lookup", run_not_available, nullptr, false, 1, 1, 1321, "Color Lookup", 0},
    {"color_negative", run_not_available, nullptr, false, 1, 0, 1258, "Color Negative", 0},
    {"color_remap", run_not_available, nullptr, false, 1, 0, 1263, "Color Remap", 0},
    {"color_spin", run_not_available, nullptr, true, 0, 0, 1315, "Color Spin", 0},
    {"color_wheel", run_not_available, nullptr, false, 0, 0, 1272, "Color Wheel", 0},
    {"color_zones", run_not_available, nullptr, false, 3, 0, 1328, "Color Zones", 0},
    {"combine_channels", run_not_available, nullptr, false, 0, 3, 1261, "Combine Channels", 0},
    {"compare", run_not_available, nullptr, false, 0, 1, 1283, "Compare", 0},
    {"composite", run_not_available, nullptr, false, 2, 1, 1279, "Composite", 0},
    {"conditional_curve", run_not_available, nullptr, false, 1, 0, 1291, "Conditional Curve", 0},
    {"conformal_mapping", run_not_available, nullptr, false, 0, 0, 1240, "Conformal", 0},
    {"contour", run_not_available, nullptr, false, 1, 0, 1246, "Contour", 0},
    {"convert", run_not_available, nullptr, false, 0, 0, 1202, "Convert", 0},
    {"copy", run_not_available, nullptr, false, 0, 1, 1286, "Copy", 0},
    {"cosine_falloff", run_not_available, nullptr, false, 0, 0, 1277, "Cosine Falloff", 0},
    {"create_profile", run_not_available, nullptr, false, 0, 0, 1269, "Create Profile", 0},
    {"crop", run_not_available, nullptr, false, 0, 0, 1218, "Crop", 0},
    {"crop_marks", run_not_available, nullptr, false, 0, 0, 1225, "Crop Marks", 0},
    {"defringe", run_not_available, nullptr, false, 1, 0, 1249, "Purple Fringe", 0},
    {"dehalo", run_not_available, nullptr, false, 1, 0, 1327, "Dehalo", 0},
    {"dehaze", run_not_available, nullptr, false, 1, 0, 1264, "Dehaze", 0},
    {"denoise", run_not_available, nullptr, false, 1, 0, 1301, "Denoise", 0},
    {"detail", run_not_available, nullptr, false, 1, 1, 1359, "Detail", 0},
    {"difference", run_not_available, nullptr, false, 1, 1, 1230, "Difference", 0},
    {"displace", run_not_available, nullptr, false, 3, 0, 1245, "Displace", 0},
    {"distort", run_not_available, nullptr, false, 0, 0, 1310, "Distort", 0},
    {"drop_shadow", run_not_available, nullptr, false, 1, 0, 1256, "Drop Shadow", 0},
    {"edge", run_not_available, nullptr, false, 1, 0, 1210, "Edge", 0},
    {"emboss", run_not_available, nullptr, false, 1, 0, 1233, "Emboss", 0},
    {"equalize", run_not_available, nullptr, false, 1, 0, 1239, "Equalize", 0},
    {"expand", run_not_available, nullptr, false, 1, 2, 1326, "Expand Dynamic Range", 0},
    {"export", run_not_available, nullptr, false, 0, 0, 1296, "Export", 0},
    {"extract_channel", run_not_available, nullptr, false, 0, 0, 1260, "Extract Channel", 0},
    {"fan", run_not_available, nullptr, false, 0, 0, 1229, "Fan", 0},
    {"file_new", run_not_available, nullptr, false, 0, 1, 1000, "File New", 0},
    {"file_open", run_not_available, nullptr, false, 0, 0, 1001, "File Open", 0},
    {"fill", run_not_available, nullptr, false, 1, 0, 1358, "Fill", 0},
    {"filter", run_not_available, nullptr, false, 1, 1, 1237, "Filter", 0},
    {"frame", run_not_available, nullptr, false, 0, 3, 1238, "Frame", 0},
    {"gamma_adjust", run_not_available, nullptr, false, 1, 0, 1262, "Gamma", 0},
    {"gamma_test", run_not_available, nullptr, false, 0, 0, 1313, "Gamma Test", 0},
    {"gaussian_blur", run_not_available, nullptr, false, 1, 0, 1212, "Gaussian Blur", 0},
    {"gray_discrimination", run_not_available, nullptr, false, 0, 0, 1314, "Gray Discrimination",
     0},
    {"grid", run_not_available, nullptr, false, 1, 0, 1226, "Grid", 0},
    {"halftone", run_not_available, nullptr, false, 0, 1, 1257, "Halftone", 0},
    {"high_contrast", run_not_available, nullptr, false, 2, 0, 1255, "High Contrast", 0},
    {"high_pass", run_not_available, nullptr, false, 1, 0, 1293, "High Pass", 0},
    {"hotspot", run_not_available, nullptr, false, 0, 0, 1302, "Hotspot", 0},
    {"hue_saturation", run_not_available, nullptr, false, 1, 0, 1324, "Hue Saturation", 0},
    {"hue_saturation_chart", run_not_available, nullptr, true, 0, 0, 1275, "Hue Sat Chart", 0},
    {"invert", run_not_available, nullptr, false, 1, 0, 1203, "Invert", 0},
    {"isolate", run_not_available, nullptr, false, 3, 0, 1331, "Isolate", 0},
    {"kaleidoscope", run_not_available, nullptr, false, 0, 0, 1223, "Kaleidoscope", 0},
    {"layout", run_not_available, nullptr, false, 256, 257, 1281, "Layout", 0},
    {"lctool", run_not_available, nullptr, false, 1, 1, 1357, "Levels and Color Tool", 0},
    {"lens_distortion", run_not_available, nullptr, false, 0, 0, 1252, "Lens Distortion", 0},
    {"lens_profile_target", run_not_available, nullptr, false, 0, 0, 1317, "Lens Profile Target",
     0},
    {"level", run_not_available, nullptr, false, 0, 0, 1207, "Level", 0},
    {"levels_and_color", run_not_available, nullptr, false, 1, 0, 1290, "Levels and Color", 0},
    {"light_falloff", run_not_available, nullptr, false, 0, 0, 1304, "Light Falloff", 0},
    {"linear_blur", run_not_available, nullptr, false, 1, 0, 1295, "Linear Blur", 0},
    {"linear_gradient", run_not_available, nullptr, false, 1, 0, 1214, "Linear Gradient", 0},
    {"magnify", run_not_available, nullptr, false, 0, 0, 1330, "Magnify", 0},
    {"masks", run_not_available, nullptr, false, 4, 0, 1285, "Masks", 0},
    {"match_reference", run_not_available, nullptr, false, 0, 1, 1247, "Match Reference", 0},
    {"median_blur", run_not_available, nullptr, false, 1, 0, 1243, "Median Blur", 0},
    {"mobius", run_not_available, nullptr, false, 1, 0, 1323, "Mobius", 0},
    {"monochrome", run_not_available, nullptr, false, 1, 2, 1231, "Monochrome", 0},
    {"monocolor", run_not_available, nullptr, false, 1, 0, 1251, "Monocolor", 0},
    {"motion_blur", run_not_available, nullptr, false, 1, 0, 1241, "Motion Blur", 0},
    {"multipass_sharpen", run_not_available, nullptr, false, 1, 0, 1208, "Multipass Sharpen", 0},
    {"multipoint_gradient", run_not_available, nullptr, false, 1, 0, 1217, "Multipoint Gradient",
     0},
    {"multi_color_balance", run_not_available, nullptr, false, 1, 0, 1284, "Multi Color Balance",
     0},
    {"orton", run_not_available, nullptr, false, 1, 0, 1305, "Orton", 0},
    {"oval_gradient", run_not_available, nullptr, false, 1, 0, 1215, "Oval Gradient", 0},
    {"paint", run_not_available, nullptr, false, 1, 1, 1352, "Paint", 0},
    {"paste", run_not_available, nullptr, false, 0, 0, 1101, "Paste", 0},
    {"posterize", run_not_available, nullptr, false, 1, 0, 1224, "Posterize", 0},
    {"precise_gaussian_blur", run_not_available, nullptr, false, 3, 0, 1213, "Precise Gaussian", 0},
    {"primaries", run_not_available, nullptr, false, 1, 0, 1303, "Primaries", 0},
    {"print", run_not_available, nullptr, false, 0, 0, 1297, "Print", 0},
    {"Q13", run_not_available, nullptr, true, 0, 0, 1280, "Q-13", 0},
    {"raw_develop", run_not_available, nullptr, false, 1, 0, 1316, "Raw Develop", 0},
    {"redeye", run_not_available, nullptr, false, 1, 0, 1355, "Redeye Removal", 0},
    {"repeat", run_not_available, nullptr, false, 4, 4, 1294, "Repeat", 0},
    {"replace_channel", run_not_available, nullptr, false, 1, 1, 1311, "Replace Channel", 0},
    {"resize", run_not_available, nullptr, false, 0, 0, 1221, "Resize", 0},
    {"resolution_chart", run_not_available, nullptr, true, 0, 0, 1273, "Resolution Chart", 0},
    {"rgb_cube", run_not_available, nullptr, false, 0, 0, 1320, "RGB Cube", 0},
    {"rotref", run_not_available, nullptr, false, 0, 0, 1220, "Rotate/Mirror", 0},
    {"ruler", run_not_available, nullptr, false, 1, 0, 1325, "Ruler", 0},
    {"saturation", run_not_available, nullptr, false, 1, 0, 1235, "Saturation", 0},
    {"scratch", run_not_available, nullptr, false, 1, 0, 1354, "Scratch Removal", 0},
    {"selective_correction", run_not_available, nullptr, false, 1, 0, 1206, "Selective Color", 0},
    {"sharpen", run_not_available, nullptr, false, 1, 0, 1266, "Sharpen", 0},
    {"sharpen_test", run_not_available, nullptr, true, 0, 0, 1312, "Sharpen Test", 0},
    {"star", run_not_available, nullptr, false, 0, 0, 1322, "Star", 0},
    {"size_to_fit", run_not_available, nullptr, false, 0, 1, 1308, "Size to Fit", 0},
    {"slide_show", run_not_available, nullptr, false, 0, 0, 1298, "Slide Show", 0},
    {"smudge", run_not_available, nullptr, false, 1, 1, 1356, "Smudge", 0},
    {"speck", run_not_available, nullptr, false, 1, 0, 1353, "Speck Removal", 0},
    {"spin_blur", run_not_available, nullptr, false, 1, 0, 1309, "Spin Blur", 0},
    {"spiral", run_not_available, nullptr, false, 0, 0, 1250, "Spiral", 0},
    {"stack_images", run_not_available, nullptr, false, 16, 16, 1287, "Stack Images", 0},
    {"starfield", run_not_available, nullptr, false, 2, 0, 1306, "Starfield", 0},
    {"step_wedge", run_not_available, nullptr, false, 0, 0, 1274, "Step Wedge", 0},
    {"stereo", run_not_available, nullptr, false, 0, 1, 1259, "Stereo", 0},
    {"stretch", run_not_available, nullptr, false, 0, 0, 1329, "Stretch", 0},
    {"swap_channels", run_not_available, nullptr, false, 0, 0, 1282, "Swap Channels", 0},
    {"sweep_gradient", run_not_available, nullptr, false, 1, 0, 1216, "Sweep Gradient", 0},
    {"text", run_not_available, nullptr, false, 0, 0, 1236, "Text", 0},
    {"texture", run_not_available, nullptr, false, 0, 1, 1242, "Texture", 0},
    {"three_zone", run_not_available, nullptr, false, 0, 0, 1254, "Three-Zone", 0},
    {"tile", run_not_available, nullptr, false, 0, 0, 1228, "Tile", 0},
    {"tint", run_not_available, nullptr, false, 2, 0, 1227, "Tint", 0},
    {"transparent_png", run_not_available, nullptr, false, 1, 0, 1288, "Transparent PNG", 0},
    {"two_zone", run_not_available, nullptr, false, 0, 0, 1253, "Two-Zone", 0},
    {"unsharp_mask", run_not_available, nullptr, false, 1, 0, 1209, "Unsharp Mask", 0},
    {"warp", run_not_available, nullptr, false, 0, 0, 1219, "Warp", 0},
    {"watercolor", run_not_available, nullptr, false, 0, 0, 1211, "Watercolor", 0},
    {"watermark", run_not_available, nullptr, false, 1, 1, 1307, "Watermark", 0},
    {"wave", run_not_available, nullptr, false, 1, 1, 1244, "Wave", 0},
    {"zoom_blur", run_not_available, nullptr, false, 1, 0, 1265, "Zoom Blur", 0},
    {},
};

struct Applicability {
    std::int32_t command_id;
    std::int32_t mask;
};

// Command identifier and applicability mask; -1 ends the table. The first row of an identifier
// counts.
const Applicability applicability[] = {
    {1222, 0x3F},  // add_border
    {1232, 0x3F},  // add_texture
    {1267, 0x3F},  // adjust
    {1270, 0x3F},  // advanced_sharpen
    {1351, 0x3F},  // arrow
    {1278, 0x3F},  // autorange
    {1300, 0x3F},  // blend
    {1268, 0x3F},  // blur
    {1234, 0x3F},  // brightness
    {1200, 0x3F},  // brightness_curve
    {1204, 0x3F},  // bypass
    {1289, 0x3F},  // calendar
    {1201, 0x3F},  // change_profile
    {1276, -1},    // checkerboard
    {1299, 0x3F},  // chromatic_aberration
    {1350, 0x3E},  // clone
    {1248, 0x3F},  // color_balance
    {1271, -1},    // color_chart
    {1205, 0x3F},  // color_curves
    {1321, 0x3F},  // color_lookup
    {1258, 0x3F},  // color_negative
    {1263, 0x3F},  // color_remap
    {1272, -1},    // color_wheel
    {1328, 0x3F},  // color_zones
    {1261, -1},    // combine_channels
    {1283, 0x3F},  // compare
    {1279, 0x3F},  // composite
    {1291, 0x3F},  // conditional_curve
    {1240, 0x3F},  // conformal_mapping
    {1246, 0x3F},  // contour
    {1202, 0x3F},  // convert
    {1286, -1},    // copy
    {1277, -1},    // cosine_falloff
    {1269, 0x3F},  // create_profile
    {1218, 0x3F},  // crop
    {1225, 0x3F},  // crop_marks
    {1249, 0x3F},  // defringe
    {1327, 0x3F},  // dehalo
    {1264, 0x3F},  // dehaze
    {1301, 0x3F},  // denoise
    {1359, 0x3E},  // detail
    {1230, 0x3F},  // difference
    {1245, 0x3F},  // displace
    {1310, 0x3F},  // distort
    {1256, 0x3F},  // drop_shadow
    {1210, 0x3F},  // edge
    {1233, 0x3F},  // emboss
    {1239, 0x3F},  // equalize
    {1326, 0x3F},  // expand
    {1296, 0x3F},  // export
    {1260, 0x3F},  // extract_channel
    {1229, 0x3F},  // fan
    {1000, -1},    // file_new
    {1001, -1},    // file_open
    {1358, 0x3F},  // fill
    {1237, 0x3F},  // filter
    {1238, 0x3F},  // frame
    {1262, 0x3F},  // gamma_adjust
    {1313, -1},    // gamma_test
    {1212, 0x3F},  // gaussian_blur
    {1314, -1},    // gray_discrimination
    {1226, 0x3F},  // grid
    {1257, 0x3F},  // halftone
    {1255, 0x3F},  // high_contrast
    {1293, 0x3F},  // high_pass
    {1302, 0x3F},  // hotspot
    {1324, 0x3F},  // hue_saturation
    {1275, -1},    // hue_saturation_chart
    {1331, 0x3F},  // isolate
    {1223, 0x3F},  // kaleidoscope
    {1281, -1},    // layout
    {1357, 0x3E},  // lctool
    {1252, 0x3F},  // lens_distortion
    {1317, -1},    // lens_profile_target
    {1207, 0x3F},  // level
    {1290, 0x3F},  // levels_and_color
    {1304, 0x3F},  // light_falloff
    {1295, 0x3F},  // linear_blur
    {1214, 0x3F},  // linear_gradient
    {1330, 0x3F},  // magnify
    {1285, 0x3F},  // masks
    {1247, 0x3F},  // match_reference
    {1243, 0x3F},  // median_blur
    {1323, 0x3F},  // mobius
    {1231, 0x3F},  // monochrome
    {1251, 0x3F},  // monocolor
    {1241, 0x3F},  // motion_blur
    {1208, 0x3F},  // multipass_sharpen
    {1217, 0x3F},  // multipoint_gradient
    {1284, 0x3F},  // multi_color_balance
    {1305, 0x3F},  // orton
    {1215, 0x3F},  // oval_gradient
    {1352, 0x3E},  // paint
    {1101, 0x80},  // paste
    {1224, 0x3F},  // posterize
    {1213, 0x3F},  // precise_gaussian_blur
    {1303, 0x3F},  // primaries
    {1297, 0x3F},  // print
    {1280, -1},    // Q13
    {1316, 0x3F},  // raw_develop
    {1355, 0x3F},  // redeye
    {1294, 0x3F},  // repeat
    {1311, 0x3F},  // replace_channel
    {1221, 0x3F},  // resize
    {1273, -1},    // resolution_chart
    {1320, -1},    // rgb_cube
    {1220, 0x3F},  // rotref
    {1325, 0x3F},  // ruler
    {1235, 0x3F},  // saturation
    {1354, 0x3F},  // scratch
    {1206, 0x3F},  // selective_correction
    {1266, 0x3F},  // sharpen
    {1312, -1},    // sharpen_test
    {1322, -1},    // star
    {1308, 0x3F},  // size_to_fit
    {1298, 0x3F},  // slide_show
    {1356, 0x3E},  // smudge
    {1353, 0x3F},  // speck
    {1309, 0x3F},  // spin_blur
    {1250, 0x3F},  // spiral
    {1287, -1},    // stack_images
    {1306, 0x3F},  // starfield
    {1274, -1},    // step_wedge
    {1259, 0x3F},  // stereo
    {1329, 0x3F},  // stretch
    {1282, 0x3F},  // swap_channels
    {1216, 0x3F},  // sweep_gradient
    {1236, 0x3F},  // text
    {1242, -1},    // texture
    {1254, 0x3F},  // three_zone
    {1228, 0x3F},  // tile
    {1227, 0x3F},  // tint
    {1288, 0x3F},  // transparent_png
    {1253, 0x3F},  // two_zone
    {1209, 0x3F},  // unsharp_mask
    {1219, 0x3F},  // warp
    {1211, 0x3F},  // watercolor
    {1307, 0x3F},  // watermark
    {1244, -1},    // wave
    {1265, 0x3F},  // zoom_blur
    {-1, 0},
};

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

std::span<TransformationEntry> registry_rows() {
    return {rows, static_cast<std::size_t>(registry_size)};
}

std::string_view canonical_keyword(std::string_view keyword) {
    return keyword == "bilateral_sharpen" ? std::string_view("multipass_sharpen") : keyword;
}

TransformationEntry* find_transformation(std::string_view keyword) {
    keyword = canonical_keyword(keyword);
    for (TransformationEntry* e = rows; e->keyword; ++e) {
        if (keyword == e->keyword) return e;
    }
    return nullptr;
}

TransformationEntry* find_transformation_by_command(std::uint32_t command_id) {
    for (TransformationEntry* e = rows; e->keyword; ++e) {
        if (e->command_id == command_id) return e;
    }
    return nullptr;
}

void install_transformation(std::string_view keyword, RunEntry run, DialogEntry dialog) {
    if (TransformationEntry* e = find_transformation(keyword)) {
        if (run) {
            e->run = run;
            e->module = nullptr;
        }
        if (dialog) e->dialog = dialog;
    }
}

std::uint8_t run_not_available(Node*, Node* node, const ArgumentList& args) {
    return fail_node(node, formatted("Transformation not available: %s",
                                     args.count() > 0 ? args[0] : std::string_view()));
}

bool check_masks_and_inputs(std::string_view command_line, std::int32_t& input_count,
                            std::int32_t& mask_count) {
    ArgumentList args = split(command_line);
    if (args.count() == 0) return true;
    const TransformationEntry* e = find_transformation(args[0]);
    if (!e) return true;
    if (e->max_inputs != -1) {
        if (input_count > e->max_inputs) show_warning("Internal Error: n_inputs mismatch");
        input_count = e->max_inputs;
    }
    if (e->max_masks != -1) {
        if (mask_count > e->max_masks) show_warning("check_masks_and_inputs: n_masks mismatch");
        mask_count = e->max_masks;
    }
    return false;
}

NodeDescription describe_node(const Node* node) {
    NodeDescription d;
    if (!node || !node->command_line) return d;
    ArgumentList args = split(*node->command_line);
    if (args.count() == 0) return d;
    const TransformationEntry* e = find_transformation(args[0]);
    if (!e) return d;
    d.display_name = e->display_name;
    d.command_id = static_cast<std::int32_t>(e->command_id);
    return d;
}

bool open_node_for_editing(Node* node) {
    if (!node) return true;
    if (node->dialog) {
        node->dialog->raise();
        return false;
    }
    ArgumentList args = split(node->command_line ? *node->command_line : std::string());
    std::string_view keyword = args.count() > 0 ? args[0] : std::string_view();
    const TransformationEntry* e = find_transformation(keyword);
    if (!e) {
        show_error("No such transformation: %s", keyword);
        return true;
    }
    if (e->no_edit) return false;
    if (!e->dialog) {
        show_error("Transformation cannot be edited: %s", keyword);
        return true;
    }
    node->error = e->dialog(node, &args) != 0;
    return false;
}

void bump_use_count(std::uint32_t command_id) {
    for (TransformationEntry* e = rows; e->keyword; ++e) {
        if (e->command_id == command_id) ++e->use_count;
    }
}

void set_use_count(std::string_view keyword, std::int32_t count) {
    for (TransformationEntry* e = rows; e->keyword; ++e) {
        if (keyword == e->keyword) {
            e->use_count = count;
            return;
        }
    }
}

void reset_use_counts() {
    for (TransformationEntry* e = rows; e->keyword; ++e) e->use_count = 0;
}

// The plain exchange sort: equal counts need not keep their order, and the order it gives is
// the one Quick Pick shows and the preferences store.
void sort_by_use_count() {
    for (int i = 0; i < registry_size - 1; ++i) {
        for (int j = i + 1; j < registry_size; ++j) {
            if (rows[i].use_count < rows[j].use_count) std::swap(rows[i], rows[j]);
        }
    }
}

std::vector<std::string> use_count_lines() {
    PlainSeparators plain;
    std::vector<std::string> lines;
    for (const TransformationEntry* e = rows; e->keyword; ++e) {
        if (e->use_count > 0)
            lines.push_back(formatted("use_count \u2033%s\u2033 %d", e->keyword, e->use_count));
    }
    return lines;
}

void UseCountReader::line(const ArgumentList& tokens) {
    if (tokens.count() < 3 || tokens[0] != "use_count") return;
    std::int32_t count = 0;
    if (parse_integer(tokens[2], count)) return;
    if (tokens[1] == "bilateral_sharpen") {
        bilateral_ = count;
    } else if (tokens[1] == "multipass_sharpen") {
        multipass_ = count;
    } else {
        set_use_count(tokens[1], count);
    }
}

void UseCountReader::finish() {
    if (bilateral_ != 0 || multipass_ != 0)
        set_use_count("multipass_sharpen", bilateral_ + multipass_);
    bilateral_ = multipass_ = 0;
}

bool command_applicability(std::uint32_t command_id, std::int32_t& mask) {
    for (const Applicability* a = applicability; a->command_id != -1; ++a) {
        if (a->command_id == static_cast<std::int32_t>(command_id)) {
            mask = a->mask;
            return true;
        }
    }
    return false;
}

bool is_command_disabled(std::uint32_t command_id) {
    std::int32_t mask = 0;
    if (!command_applicability(command_id, mask)) return false;
    if (mask == -1) return false;
    // Commands with bit 7 follow a rule of the application shell; without a shell they stay
    // enabled.
    if (mask & 0x80) return false;
    const Node* node = current_node();
    if (is_splitter(node)) return (mask & 0x20) != 0;
    if (is_side_branch(node)) return (mask & 0x40) != 0;
    std::int32_t bit = 0;
    if (node) {
        std::uint32_t type = effective_image_node(node)->image.type;
        if (type >= 1 && type <= 5) bit = 1 << (type - 1);
    }
    return (mask & bit) == 0;
}

bool quick_pick_match(std::string_view s, std::string_view name) {
    if (s.empty()) return true;
    if (name.empty()) return false;
    bool first = lower(s[0]) == lower(name[0]);
    for (std::size_t j = 1; !first && j + 1 < name.size(); ++j) {
        if (name[j] == ' ' && lower(name[j + 1]) == lower(s[0])) first = true;
    }
    if (!first) return false;
    if (s.size() == 1) return true;
    if (s.size() >= name.size()) return false;
    for (std::size_t p = 0; p + s.size() <= name.size(); ++p) {
        bool all = true;
        for (std::size_t k = 1; k < s.size() && all; ++k) all = lower(s[k]) == lower(name[p + k]);
        if (all) return true;
    }
    return false;
}

QuickPickResult quick_pick(std::string_view search) {
    QuickPickResult result;
    int enabled = 0;
    int disabled = 0;
    std::int32_t first_enabled = -1;
    for (const TransformationEntry* e = rows; e->keyword; ++e) {
        if (same_letters(search, e->display_name)) {
            result.command = static_cast<std::int32_t>(e->command_id);
            return result;
        }
        if (!quick_pick_match(search, e->display_name)) continue;
        if (is_command_disabled(e->command_id)) {
            ++disabled;
        } else {
            if (enabled++ == 0) first_enabled = static_cast<std::int32_t>(e->command_id);
        }
    }
    if (enabled + disabled == 0) return result;
    if (enabled == 1) {
        result.command = first_enabled;
    } else {
        result.open_dialog = true;
    }
    return result;
}

std::int32_t favorite_command(std::string_view display_name) {
    if (display_name == "Bilateral Sharpen") display_name = "Multipass Sharpen";
    for (const TransformationEntry* e = rows; e->keyword; ++e) {
        if (display_name == e->display_name) return static_cast<std::int32_t>(e->command_id);
    }
    return -1;
}

}  // namespace tessaly
