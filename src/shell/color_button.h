// A button that shows a colour and lets the person pick another one (the dialogs' colour
// settings: border, background, clipping marks, gamut alarm).
#pragma once

#include <QColor>
#include <QColorDialog>
#include <QPushButton>

namespace tessaly::shell {

class ColorButton : public QPushButton {
  public:
    ColorButton(const QString& title, QWidget* parent) : QPushButton(parent), title_(title) {
        setMinimumWidth(64);
        connect(this, &QPushButton::clicked, this, [this] {
            const QColor chosen = QColorDialog::getColor(color_, this, title_);
            if (chosen.isValid()) set_color(chosen);
        });
    }
    QColor color() const { return color_; }
    void set_color(const QColor& color) {
        color_ = color;
        // The name stays readable on dark colours as on light ones.
        const char* text = color.lightness() < 128 ? "white" : "black";
        setStyleSheet(QString("background-color: %1; color: %2").arg(color.name(), text));
        setText(color.name());
    }

  private:
    QString title_;
    QColor color_;
};

}  // namespace tessaly::shell
