#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace qrv::gui {

enum class TMessageIcon { Information, Warning, Error, Question };
enum class TMessageButtons { Ok, YesNo };
enum class TMessageAnswer { Ok, Yes, No };

// One box as it was asked for (kept for tests and for unattended runs).
struct TMessageRecord {
    std::string Caption;
    std::string Text;
    TMessageIcon Icon = TMessageIcon::Information;
    TMessageButtons Buttons = TMessageButtons::Ok;
};

// The platform message box: modal, owned by `owner` (may be null), texts UTF-8 and shown as
// given (callers look them up in the catalogue first). Returns the button pressed; closing the
// box without a button counts as Ok for an OK box and No for a question.
TMessageAnswer ShowMessageBox(QWidget* owner, const std::string& caption, const std::string& text,
                              TMessageIcon icon, TMessageButtons buttons = TMessageButtons::Ok);

// Seam for tests and for runs without a display. A box never blocks when an answer is queued
// (SetNextAnswer, first in first out) or when unattended mode is on (each box then gets its
// safe answer: Ok, or No for a question). Every box asked for is recorded either way.
namespace MessageBoxSeam {
void SetNextAnswer(TMessageAnswer answer);
void SetUnattended(bool on);
bool Unattended();
std::vector<TMessageRecord> TakeShown(); // the boxes recorded since the last call
// Runs while a box stands open, before its answer is given (tests: what happens behind it).
void SetOnShow(std::function<void(const TMessageRecord&)> hook);
void Reset(); // queued answers and records dropped, unattended off
} // namespace MessageBoxSeam

} // namespace qrv::gui
