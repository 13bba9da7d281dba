// A Brightness Curve dialog over a real photograph with its curve control, for the tests that
// drive the control: the node's command line after the dialog's changes have run.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <string>

#include "core/curve.h"
#include "framework/node.h"
#include "shell/curve_control.h"
#include "shell/dialog_fixture.h"
#include "tree/tree.h"

namespace tessaly::shell {

inline std::string points(const Curve& c) {
    std::string text;
    for (int i = 0; i < c.npts; ++i)
        text += "(" + std::to_string(c.x[i]) + "," + std::to_string(c.y[i]) + ")";
    return text;
}

class CurveControlDialog : public DialogOnAPhoto {
  protected:
    void SetUp() override {
        DialogOnAPhoto::SetUp();
        if (IsSkipped()) return;
        dialog = open("brightness_curve");
        ASSERT_NE(dialog, nullptr);
        settle();
        control = qobject_cast<CurveControl*>(dialog->control("curve"));
        ASSERT_NE(control, nullptr);
    }
    void settle() { DialogOnAPhoto::settle(dialog); }
    std::string node_line() {
        std::string line;
        frame->engine().submit([&] {
            if (const Node* node = current_node()) line = node->command_line.value_or("");
        });
        frame->engine().wait_idle();
        return line;
    }

    TransformationDialog* dialog = nullptr;
    CurveControl* control = nullptr;
};

}  // namespace tessaly::shell
