#include "management/ProgressBarGeometry.h"

#include <cmath>

namespace velmora {

namespace {

// nearest(x) with halves to even; nothing when x is no finite number.
std::optional<int> Nearest(double x) {
  if (!std::isfinite(x) || std::fabs(x) > 1e9)
    return std::nullopt;
  return static_cast<int>(std::nearbyint(x));
}

// A part's done fraction; nothing for a range without length (the end of "to the end" included).
std::optional<double> Fraction(const TBarSlot &slot) {
  const int64_t length = slot.EndByte - slot.StartByte;
  if (length <= 0)
    return std::nullopt;
  return static_cast<double>(slot.TransferCount) / static_cast<double>(length);
}

} // namespace

TProgressBars ComputeProgressBars(TBarRect cell, int64_t transferCount, int64_t fileSize,
                                  const std::vector<TBarSlot> &parts) {
  TProgressBars bars;
  const int h = cell.Bottom;
  bars.UpperFrame = {cell.Left + 1, cell.Top + 1, cell.Right - 1, h / 2 - 1};
  const TBarRect &frame = bars.UpperFrame;
  int w = 0;
  if (fileSize > 0)
    w = Nearest(static_cast<double>(transferCount) * (frame.Right - 2 - (frame.Left + 2)) /
                static_cast<double>(fileSize))
            .value_or(0);
  bars.UpperBar = {frame.Left + 2, frame.Top + 2, frame.Left + 2 + w, h / 2 - 3};
  bars.LowerFrame = {cell.Left + 1, h / 2 + 1, cell.Right - 1, h - 1};
  const int top = h / 2 + 3, bottom = h - 3;
  int x = bars.LowerFrame.Left + 2;
  if (parts.empty())
    return bars;
  const int cellWidth = cell.Right - cell.Left;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const TBarSlot &slot = parts[i];
    const int64_t length = slot.EndByte - slot.StartByte;
    const std::optional<double> done = Fraction(slot);
    if (fileSize <= 0 || !done)
      break;
    const std::optional<int> s =
        Nearest(static_cast<double>(length) / static_cast<double>(fileSize) * (cellWidth - 4));
    const std::optional<int> f = s ? Nearest(*done * *s) : std::nullopt;
    if (!s || !f)
      break;
    bars.Segments.push_back({x, top, x + *f, bottom});
    x += *s;
  }
  const int available = cell.Right - 3 - x;
  const std::optional<double> done = Fraction(parts.back());
  if (!done || available <= 0)
    return bars;
  std::optional<int> f = Nearest(*done * available);
  if (!f)
    return bars;
  if (static_cast<double>(*f) / available > 0.99)
    f = available;
  bars.Segments.push_back({x, top, x + *f, bottom});
  return bars;
}

} // namespace velmora
