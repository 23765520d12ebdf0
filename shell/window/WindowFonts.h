#pragma once

#include <QRect>

#include <string>
#include <vector>

class QLabel;

namespace qrv::gui {

// The windows are laid out for Tahoma. Debian's fonts-wine carries a Tahoma with the same
// metrics, but outside fontconfig's folders, so the program loads it itself when it is there.
// Returns the toolkit's ids of the fonts loaded (none where the files are missing).
std::vector<int> LoadWindowFonts(const std::vector<std::string>& folders = {
                                     "/usr/share/wine/fonts"});

// Sizes a label at its designed place to its text: it widens (never narrows) up to the next
// control on its right or the window's edge, and where a wider fallback font would still run
// into that control, its font is condensed until the text fits (never below 60 %).
void FitLabel(QLabel* label, const QRect& designed);

} // namespace qrv::gui
