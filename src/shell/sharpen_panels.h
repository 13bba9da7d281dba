// The panels of Unsharp Mask and Sharpen: their sliders run over 0..10008 positions and show
// the values they give in the program's own words; the threshold and halo limit pairs are
// two-thumb sliders.
#pragma once

#include <memory>
#include <vector>

#include "shell/dialog_panel.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QSlider;

namespace tessaly::shell {

class RangeSlider;

class SharpenPanelBase : public DialogPanel {
    Q_OBJECT
  public:
    static constexpr int positions = 10008;

    explicit SharpenPanelBase(QWidget* parent = nullptr);
    ~SharpenPanelBase() override;

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;

    // A setting's control by its key (for a pair, either key), and its label; null when none.
    QSlider* slider(std::string_view key) const;
    RangeSlider* range(std::string_view key) const;
    QLabel* label(std::string_view key) const;

  protected:
    struct Single;
    struct Pair;

    // A slider whose value is position x full / positions (rounded when whole), shown x shown.
    void add_single(const char* key, const char* format, double full, double shown, bool whole,
                    double value);
    // A two-thumb slider whose thumbs give two fractions (position / positions), shown x 100.
    void add_pair(const char* first, const char* second, const char* format, double a, double b);
    // The panel's other settings, after the sliders.
    virtual void show_more(const std::string&) {}

    QGridLayout* grid_ = nullptr;

  private:
    std::vector<std::unique_ptr<Single>> singles_;
    std::vector<std::unique_ptr<Pair>> pairs_;
};

class UnsharpMaskPanel : public SharpenPanelBase {
    Q_OBJECT
  public:
    UnsharpMaskPanel(const PanelInput& input, QWidget* parent = nullptr);

    std::vector<std::string> keys() const override;
    std::string settings() const override;
    // "Sharpen Luminance only": null when the picture is not RGB.
    QCheckBox* luminance() const { return luminance_; }

  protected:
    void show_more(const std::string& line) override;

  private:
    QCheckBox* luminance_ = nullptr;
    std::int32_t what_ = 0;
};

class SharpenPanel : public SharpenPanelBase {
    Q_OBJECT
  public:
    explicit SharpenPanel(QWidget* parent = nullptr);

    std::vector<std::string> keys() const override;
    std::string settings() const override;
    QComboBox* method() const { return method_; }

  protected:
    void show_more(const std::string& line) override;

  private:
    QComboBox* method_ = nullptr;
};

DialogPanel* make_unsharp_mask_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_sharpen_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
