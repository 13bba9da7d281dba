// A horizontal slider with two thumbs for a range (a lower and an upper value) that never cross.
// The mouse takes the thumb nearer to where it is pressed; the keys move the thumb last taken.
#pragma once

#include <QWidget>
#include <utility>

namespace tessaly::shell {

class RangeSlider : public QWidget {
    Q_OBJECT
  public:
    explicit RangeSlider(int maximum = 10008, QWidget* parent = nullptr);

    std::pair<int, int> values() const { return {low_, high_}; }
    // Shows a range; a second value below the first is taken as the first. Emits nothing.
    void set_values(int low, int high);
    int maximum() const { return maximum_; }
    // The thumb the keys move: 0 the lower, 1 the upper.
    int active() const { return active_; }
    // Where a value's thumb is drawn, in widget coordinates (its centre).
    int position_of(int value) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    // The person moved a thumb.
    void moved(int low, int high);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int value_at(int x) const;
    // Moves the active thumb to value, held between 0, the other thumb and the maximum.
    void move_active(int value);

    int maximum_;
    int low_ = 0, high_ = 0;
    int active_ = 0;
    bool dragging_ = false;
};

}  // namespace tessaly::shell
