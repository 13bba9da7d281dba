// A dialog's first look at a change: the transformation run on a reduced copy of its input and
// drawn at once, while the whole picture is still being made. Lengths declared in pixels
// (radii, widths) are reduced by the same factor, so that the first look resembles the result.
// Everything here runs on the engine's thread.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <string>

namespace tessaly {
class TransformationModule;
struct Node;
}  // namespace tessaly

namespace tessaly::shell {

// Inputs with more pixels than this get a first look; smaller ones run whole at once.
inline constexpr std::uint64_t proxy_threshold = 4u << 20;
// The reduced input's longer side at most.
inline constexpr std::uint32_t proxy_side = 1536;

class PreviewProxy {
  public:
    PreviewProxy();
    ~PreviewProxy();
    PreviewProxy(const PreviewProxy&) = delete;
    PreviewProxy& operator=(const PreviewProxy&) = delete;

    // The first look at node (whose command line is about to become line): a picture marked
    // with the full result's size (as the image window's previews are), or a null picture when
    // the node does not get one (small input, masks in use, extra inputs, a transformation that
    // makes its image from elsewhere) or the reduced run fails.
    QImage picture(const TransformationModule& module, const Node* node, const std::string& line);

    // The line with every length in pixels divided by step (for tests).
    static std::string reduced_line(const TransformationModule& module, const std::string& line,
                                    std::uint32_t step);

  private:
    struct Input;
    std::unique_ptr<Input> input_;  // the reduced copy, made once per input picture
};

}  // namespace tessaly::shell
