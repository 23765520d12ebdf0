#pragma once

#include "engine/CheckView.h"

#include <cstdint>

namespace qrv::engine {

// Sums a run up at its end: status bar, tray image and hint, traffic light and its hint, the
// warning button, and for an offline station the offline balloon when the balloon level is
// greater than 3. A level below 0 acts as 0 and one above 4 as 4. Texts are translated here;
// the count text of a problem run takes runErrorCount. An unknown outcome changes nothing.
// Throws what the catalogue lookup or a damaged translation throws.
void ShowRunOutcome(ICheckView& view, TRunOutcome outcome, std::int32_t runErrorCount,
                    std::int32_t balloonLevel);

} // namespace qrv::engine
