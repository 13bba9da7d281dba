// Copy Image to Clipboard and the Paste transformation through Qt's clipboard.
#include "shell/clipboard.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QUrl>
#include <cstring>

#include "core/image_convert.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "support/recording_interaction.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

using tessaly::testing::RecordingInteraction;

// A picture whose every sample differs from its neighbours', so that swapped channels, flipped
// rows or a lost low byte show.
void fill(Image& image) {
    const std::uint32_t samples = image_pixel_bytes(image.type);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        for (std::uint32_t b = 0; b < image.width * samples; ++b) {
            image.row(y)[b] = static_cast<std::uint8_t>(y * 7 + b * 13 + (b % samples) * 61);
        }
    }
}

bool same_pixels(const Image& a, const Image& b) {
    if (a.type != b.type || a.width != b.width || a.height != b.height) return false;
    const std::size_t bytes = std::size_t(a.width) * image_pixel_bytes(a.type);
    for (std::uint32_t y = 0; y < a.height; ++y) {
        if (std::memcmp(a.row(y), b.row(y), bytes) != 0) return false;
    }
    return true;
}

class Clipboard : public ::testing::Test {
  protected:
    void TearDown() override {
        QApplication::clipboard()->clear();
        close_all_images();
    }

    // Makes a top level image of the type, copies it to the clipboard and pastes it back.
    Image round_trip(FrameWindow& frame, std::uint32_t type, Image& original) {
        frame.run([type, &original] {
            Node* node = create_top_level_image(true, false, 0, 0, bypass_none, "made", true);
            ASSERT_FALSE(image_alloc(node->image, type, 37, 23, 300.0));
            fill(node->image);
            ASSERT_FALSE(image_copy(node->image, original));
            set_current_node(node, -1);
        });
        frame.engine().wait_idle();
        frame.command(1100);
        frame.engine().wait_idle();
        frame.command(1101);
        frame.engine().wait_idle();
        Image pasted;
        frame.run([&pasted] {
            Node* node = current_node();
            ASSERT_NE(node, nullptr);
            EXPECT_EQ(node->caption, "Paste");
            EXPECT_EQ(node->command_line.value_or(""), "paste");
            ASSERT_FALSE(image_copy(node->image, pasted));
        });
        frame.engine().wait_idle();
        return pasted;
    }

    RecordingInteraction record;
};

TEST_F(Clipboard, PicturesComeBackAsTheyWentOutSixteenBitsAsEight) {
    FrameWindow frame(&record);
    for (std::uint32_t type : {image_gray8, image_color24}) {
        Image original;
        const Image pasted = round_trip(frame, type, original);
        EXPECT_TRUE(same_pixels(pasted, original)) << type;
        EXPECT_NEAR(pasted.dpi, 300.0, 0.5);
    }
    EXPECT_TRUE(record.messages.empty());
    for (std::uint32_t type : {image_gray16, image_color48}) {
        Image original;
        const Image pasted = round_trip(frame, type, original);
        Image reduced;
        ASSERT_FALSE(
            image_convert(original, reduced, type == image_gray16 ? image_gray8 : image_color24));
        EXPECT_TRUE(same_pixels(pasted, reduced)) << type;
    }
    EXPECT_EQ(record.texts(MessageKind::warning),
              (std::vector<std::string>(2, "16-bit images are copied to the clipboard as 8-bit")));
    EXPECT_TRUE(frame.owns_clipboard());
}

TEST_F(Clipboard, SixteenBitPicturesOfOtherProgramsStaySixteenBits) {
    Image original;
    ASSERT_FALSE(image_alloc(original, image_color48, 19, 11, 72.0));
    fill(original);
    Image back;
    ASSERT_FALSE(qimage_to_image(image_to_qimage(original), back));
    EXPECT_TRUE(same_pixels(back, original));
}

TEST_F(Clipboard, PasteTakesTheFirstCopiedFileOrSaysWhyNot) {
    FrameWindow frame(&record);
    frame.command(1101);  // an empty clipboard
    frame.engine().wait_idle();
    EXPECT_EQ(record.texts(MessageKind::error),
              std::vector<std::string>{"Error pasting bitmap from clipboard"});

    const std::string photo = "/usr/share/wallpapers/Path/contents/images/2560x1600.jpg";
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(photo)),
                   QUrl::fromLocalFile("/tmp/another.jpg")});
    QApplication::clipboard()->setMimeData(data);
    frame.command(1101);
    frame.engine().wait_idle();
    ASSERT_EQ(record.texts(MessageKind::warning).size(), 1u);
    EXPECT_EQ(record.texts(MessageKind::warning)[0].rfind("Only one file can be pasted", 0), 0u);
    const BrowserSnapshot& s = frame.browser()->canvas()->snapshot();
    ASSERT_EQ(s.top_level.size(), 2u);
    EXPECT_TRUE(s.nodes[s.top_level[0]].error);
    EXPECT_FALSE(s.nodes[s.top_level[1]].error);
    EXPECT_FALSE(s.nodes[s.top_level[1]].thumbnail.isNull());
}

}  // namespace
}  // namespace tessaly::shell
