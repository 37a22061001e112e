#pragma once
// The main window's dark theme: named colours, the four fonts, and the
// painting of the two owner-drawn buttons.

#include "common/handle.h"
#include "common/win_compat.h"

constexpr COLORREF kBackgroundColour = RGB(25, 27, 33);
constexpr COLORREF kTextColour = RGB(232, 232, 235);
constexpr COLORREF kGoldColour = RGB(215, 170, 72);  // bottom line text, play button border
constexpr COLORREF kBarBackgroundColour = RGB(49, 52, 61);
constexpr COLORREF kTotalBarColour = RGB(174, 37, 44);
constexpr COLORREF kFileBarColour = RGB(52, 137, 189);
constexpr COLORREF kPlayFillColour = RGB(155, 29, 36);
constexpr COLORREF kPlayPressedColour = RGB(125, 22, 28);
constexpr COLORREF kRepairFillColour = RGB(48, 50, 58);
constexpr COLORREF kRepairPressedColour = RGB(37, 39, 46);
constexpr COLORREF kRepairBorderColour = RGB(90, 92, 103);
constexpr COLORREF kButtonTextColour = RGB(245, 245, 245);
constexpr COLORREF kButtonDisabledTextColour = RGB(130, 130, 135);

enum class FontRole { None, Title, Body, Semibold, Small };

// The four fonts of one DPI, each "Segoe UI" at a negative (character) height.
struct UiFontSet {
    GdiObject title;     // 34 px, weight 600
    GdiObject body;      // 17 px, weight 400
    GdiObject semibold;  // 15 px, weight 600
    GdiObject smallText;  // 12 px, weight 600
};

// Creates the whole set for `dpi`. False, with `fonts` untouched, when any
// font cannot be created (the ones already made are deleted).
bool CreateFontSet(int dpi, UiFontSet& fonts);

// The font of `role` in `fonts`, or null for FontRole::None or a missing font.
HFONT FontFor(const UiFontSet& fonts, FontRole role);

// Paints a button: the play button in red with a gold border, any other in
// grey; darker while pressed; its text centred in `font`. Returns TRUE.
BOOL DrawThemedButton(const DRAWITEMSTRUCT& item, bool isPlayButton, HFONT font);
