#include "framework/amount.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/transformation.h"

namespace tessaly {
namespace {

ArgumentList args_of(const std::string& value) {
    return split("x 0 amount " + value + " next 3");
}

// A node whose mask slot 0 holds a built 2 x 2 mask.
std::unique_ptr<Node> node_with_mask() {
    auto node = std::make_unique<Node>();
    node->masks.push_back(std::make_unique<MaskSettings>());
    EXPECT_FALSE(image_alloc(node->masks[0]->image, image_gray8, 2, 2, 0.0));
    return node;
}

TEST(AmountText, WrittenInItsThreeForms) {
    AmountSettings a = amount_init(0, true, amount_mode_percent);
    EXPECT_EQ(amount_to_text(a), "1 -1 0 1 \u2033Amount: \u2033 \u2033Mask\u2033");
    a.amount = 5004;
    a.second = 2502;
    a.mode = amount_mode_separate;
    a.flag = 0;  // always written as 1
    a.label = "Blur: ";
    EXPECT_EQ(amount_to_text(a), "0.5 0.25 2 1 \u2033Blur: \u2033 \u2033Mask\u2033");
    AmountSettings off = amount_init(1, false, amount_mode_signed, "L", "C");
    EXPECT_EQ(off.amount, -1);
    EXPECT_EQ(amount_to_text(off), "-1 -1 1 1 \u2033L\u2033 \u2033C\u2033");
    EXPECT_EQ(amount_init(0, true, amount_mode_signed).amount, 5004);
}

TEST(AmountText, ReadBackByItsRules) {
    AmountSettings a;
    a.flag = 0;
    ASSERT_FALSE(
        amount_from_args(args_of("0.25 0.75 2 0 \u2033X: \u2033 \u2033M 1\u2033"), "amount", a));
    EXPECT_EQ(a.amount, 2502);
    EXPECT_EQ(a.second, 7506);
    EXPECT_EQ(a.mode, 2);
    EXPECT_EQ(a.flag, 1);
    EXPECT_EQ(a.label, "X: ");
    EXPECT_EQ(a.mask_caption, "M 1");

    ASSERT_FALSE(amount_from_args(args_of("-1 -1 mode 1 \u2033\u2033 \u2033\u2033"), "amount", a));
    EXPECT_EQ(a.amount, -1);
    EXPECT_EQ(a.second, -1);
    EXPECT_EQ(a.mode, 0);  // a mode that does not read
    EXPECT_EQ(a.label, "");

    // Labels are cut to 255 characters (code points, not bytes).
    std::string long_label;
    for (int i = 0; i < 300; ++i) long_label += "\u00e9";
    ASSERT_FALSE(amount_from_args(args_of("1 -1 0 1 \u2033" + long_label + "\u2033 \u2033c\u2033"),
                                  "amount", a));
    EXPECT_EQ(a.label.size(), 510u);

    // Too few tokens: unchanged.
    AmountSettings b;
    EXPECT_TRUE(amount_from_args(split("x amount 0.5 0.5"), "amount", b));
    EXPECT_EQ(b.amount, amount_full);

    // Every amount survives writing and reading.
    for (std::int32_t v = 0; v <= amount_full; ++v) {
        AmountSettings w;
        w.amount = v;
        w.second = amount_full - v;
        AmountSettings r;
        ASSERT_FALSE(amount_from_args(args_of(amount_to_text(w)), "amount", r));
        ASSERT_EQ(r.amount, v);
        ASSERT_EQ(r.second, amount_full - v);
    }
}

TEST(AmountMasks, InUseAndConsistency) {
    auto with = node_with_mask();
    Node without;
    AmountSettings a;
    a.amount = 0;
    a.second = 10008;
    EXPECT_TRUE(amount_mask_in_use(a, with.get()));
    EXPECT_FALSE(amount_mask_in_use(a, &without));
    a.mask_number = 1;  // no such slot
    EXPECT_FALSE(amount_mask_in_use(a, with.get()));
    a.mask_number = 0;
    a.second = -1;
    EXPECT_FALSE(amount_mask_in_use(a, with.get()));
    a.amount = -1;  // switched off: the mask still decides
    EXPECT_TRUE(amount_mask_in_use(a, with.get()));

    // Two amounts read for a control that has no built mask become one amount at its default.
    AmountSettings two;
    two.amount = 2500;
    two.second = 7000;
    AmountSettings kept = two;
    amount_make_consistent(kept, with.get());
    EXPECT_EQ(kept.second, 7000);
    amount_make_consistent(two, &without);
    EXPECT_EQ(two.amount, 10008);
    EXPECT_EQ(two.second, -1);
    two.mode = amount_mode_signed;
    two.second = 3;
    amount_make_consistent(two, &without);
    EXPECT_EQ(two.amount, 5004);
    two.amount = -1;
    two.second = 3;
    amount_make_consistent(two, nullptr);
    EXPECT_EQ(two.amount, -1);
    EXPECT_EQ(two.second, -1);
}

TEST(AmountCaption, PercentagesByMode) {
    AmountSettings a;
    a.amount = 5004;
    EXPECT_EQ(amount_caption(a), "Amount: 50.0%");
    a.second = 10008;
    a.amount = 0;
    EXPECT_EQ(amount_caption(a), "Amount: 0.0% .. 100.0%");
    a.mode = amount_mode_signed;
    a.amount = 5004;
    a.second = 0;
    EXPECT_EQ(amount_caption(a), "Amount: 0.0% .. -100.0%");
    a.amount = -1;
    EXPECT_EQ(amount_caption(a), "Amount: ");
}

}  // namespace
}  // namespace tessaly
