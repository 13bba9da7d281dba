// Quick Pick: a character typed into the frame window picks a transformation by name. One
// enabled match runs at once; several open the "Quick Pick" dialog of buttons, the most used
// first and numbered so that a digit picks them. The dialog works on a copy of the registry's
// rows taken on the engine's thread, so typing in it never touches the engine.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/registry.h"

class QLineEdit;
class QPushButton;

namespace tessaly::shell {

class FrameWindow;

// One registry row as the dialog sees it.
struct QuickPickRow {
    std::string name;
    std::int32_t command = 0;
    std::int32_t use_count = 0;
    bool disabled = false;
};

// The registry's rows in their current order with the applicability of each (engine thread).
std::vector<QuickPickRow> quick_pick_rows();

// What a search text does among rows: the command to send, that the dialog shows the matches,
// or nothing (no match at all).
QuickPickResult quick_pick_among(const std::vector<QuickPickRow>& rows, std::string_view search);

class QuickPickDialog : public QDialog {
    Q_OBJECT
  public:
    // rows sorted by use count; columns end before max_height.
    QuickPickDialog(std::vector<QuickPickRow> rows, const QString& search, int max_height,
                    QWidget* parent);

    // The command chosen, -1 for none (OK, Cancel, closed).
    std::int32_t chosen() const { return chosen_; }
    QLineEdit* search_field() const { return search_; }
    // The buttons in row order, the numbered ones first.
    const std::vector<QPushButton*>& buttons() const { return buttons_; }

  private:
    void edited(const QString& text);
    void rebuild();
    void finish(std::int32_t command);

    std::vector<QuickPickRow> rows_;
    QLineEdit* search_;
    QWidget* area_;
    std::vector<QPushButton*> buttons_;
    int numbered_ = 0;
    int max_height_;
    std::int32_t chosen_ = -1;
    QString accepted_;  // the search text the buttons show
};

// What typing text into the frame does (one character; a blank searches for everything).
void quick_pick_typed(FrameWindow& frame, const QString& text);

// Sends the characters typed into the frame window (not taken by one of its windows) to Quick
// Pick.
void install_quick_pick(FrameWindow& frame);

}  // namespace tessaly::shell
