#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace velmora {

struct TBarRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TBarRect &, const TBarRect &) = default;
};

struct TBarSlot {
  int64_t StartByte = 0;
  int64_t EndByte = 0;
  int64_t TransferCount = 0;
};

// The two stacked bars of a running download's status cell: the whole file above, each part
// below. Coordinates are within the cell; every rectangle is outlined and filled by the painter.
struct TProgressBars {
  TBarRect UpperFrame, UpperBar, LowerFrame;
  std::vector<TBarRect> Segments; // in slot order; a slot whose width cannot be computed has none
};

// cell: the cell's rectangle (left, top, right, bottom). Widths round to the nearest integer,
// halves to even; a part more than 99 % done fills the rest of the lower frame.
TProgressBars ComputeProgressBars(TBarRect cell, int64_t transferCount, int64_t fileSize,
                                  const std::vector<TBarSlot> &parts);

} // namespace velmora
