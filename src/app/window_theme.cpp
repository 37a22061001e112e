#include "app/window_theme.h"

#include <utility>

#include "app/window_layout.h"

namespace {

constexpr int kButtonCornerEllipse = 8;  // not scaled with the DPI
constexpr int kMaxButtonText = 63;

GdiObject CreateUiFont(int dpi, int size, int weight) {
    return GdiObject(::CreateFontW(-ScaleForDpi(size, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
}

// Selects an object into a device context for the lifetime of the guard.
class SelectionGuard {
public:
    SelectionGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~SelectionGuard() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    SelectionGuard(const SelectionGuard&) = delete;
    SelectionGuard& operator=(const SelectionGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace

bool CreateFontSet(int dpi, UiFontSet& fonts) {
    UiFontSet created;
    created.title = CreateUiFont(dpi, 34, 600);
    created.body = CreateUiFont(dpi, 17, 400);
    created.semibold = CreateUiFont(dpi, 15, 600);
    created.smallText = CreateUiFont(dpi, 12, 600);
    if (!created.title || !created.body || !created.semibold || !created.smallText) return false;
    fonts = std::move(created);
    return true;
}

HFONT FontFor(const UiFontSet& fonts, FontRole role) {
    switch (role) {
        case FontRole::Title: return static_cast<HFONT>(fonts.title.Get());
        case FontRole::Body: return static_cast<HFONT>(fonts.body.Get());
        case FontRole::Semibold: return static_cast<HFONT>(fonts.semibold.Get());
        case FontRole::Small: return static_cast<HFONT>(fonts.smallText.Get());
        case FontRole::None: break;
    }
    return nullptr;
}

BOOL DrawThemedButton(const DRAWITEMSTRUCT& item, bool isPlayButton, HFONT font) {
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0 && !disabled;
    COLORREF fill = isPlayButton ? kPlayFillColour : kRepairFillColour;
    if (pressed) fill = isPlayButton ? kPlayPressedColour : kRepairPressedColour;
    const COLORREF border = isPlayButton ? kGoldColour : kRepairBorderColour;
    const HDC dc = item.hDC;
    RECT area = item.rcItem;
    {
        const GdiObject brush(::CreateSolidBrush(fill));
        const GdiObject pen(::CreatePen(PS_SOLID, 1, border));
        const SelectionGuard selectBrush(dc, brush.Get());
        const SelectionGuard selectPen(dc, pen.Get());
        ::RoundRect(dc, area.left, area.top, area.right, area.bottom, kButtonCornerEllipse, kButtonCornerEllipse);
    }  // the guards put the old objects back before brush and pen are deleted

    wchar_t text[kMaxButtonText + 1] = L"";
    ::GetWindowTextW(item.hwndItem, text, kMaxButtonText + 1);
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = ::SetTextColor(dc, disabled ? kButtonDisabledTextColour : kButtonTextColour);
    {
        const SelectionGuard selectFont(dc, font);
        ::DrawTextW(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    ::SetTextColor(dc, oldColour);
    ::SetBkMode(dc, oldMode);
    return TRUE;
}
