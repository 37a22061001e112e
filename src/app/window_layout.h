#pragma once
// The main window's geometry as plain arithmetic on (client size, DPI): the
// fitted client size at start, the place of every control, the smallest
// tracking size. Every number is a 96-DPI value scaled by ScaleForDpi.

#include <array>
#include <cstddef>

// MulDiv(value, dpi, 96), rounding halves away from zero; a dpi of 0 counts as 96.
int ScaleForDpi(int value, int dpi);

struct ClientSize {
    int width;
    int height;
};

// The client area asked for at `dpi` before it is fitted to the screen (760 × 460 at 96 DPI).
ClientSize BaseClientSize(int dpi);

// The client area for a work area of workWidth × workHeight and a window frame
// that adds frameWidth × frameHeight: the base size, shrunk to leave a 24-pixel
// (scaled) margin inside the work area, but never below 480 × 360 (scaled).
ClientSize FitClientSize(int workWidth, int workHeight, int frameWidth, int frameHeight, int dpi);

// The smallest tracking size on a monitor whose work area is workWidth × workHeight;
// haveWorkArea false when the monitor could not be asked.
ClientSize MinimumTrackSize(bool haveWorkArea, int workWidth, int workHeight, int dpi);

// The laid-out controls, in creation order.
enum class Slot {
    Header,
    Subtitle,
    Status,
    Detail,
    TotalLabel,
    TotalBar,
    FileLabel,
    FileBar,
    Counts,
    Rate,
    Repair,
    Play,
    Icon,
    Count
};

struct Placement {
    int x;
    int y;
    int width;
    int height;
};

using WindowLayout = std::array<Placement, static_cast<std::size_t>(Slot::Count)>;

// Places every control for a client area of clientWidth × clientHeight at `dpi`
// (sizes below 1 count as 1).
WindowLayout ComputeLayout(int clientWidth, int clientHeight, int dpi);

inline const Placement& PlacementOf(const WindowLayout& layout, Slot slot) {
    return layout[static_cast<std::size_t>(slot)];
}
