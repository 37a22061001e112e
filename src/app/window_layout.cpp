#include "app/window_layout.h"

#include <algorithm>

#include "common/win_compat.h"

namespace {

constexpr int kClientWidth = 760;
constexpr int kClientHeight = 460;
constexpr int kMinClientWidth = 480;
constexpr int kMinClientHeight = 360;
constexpr int kWorkAreaMargin = 24;

// Layout numbers at 96 DPI.
constexpr int kMargin = 28;
constexpr int kTop = 18;
constexpr int kIconSize = 72;
constexpr int kIconGap = 20;
constexpr int kMinContentWidth = 240;
constexpr int kMinHeaderWidth = 220;
constexpr int kHeaderHeight = 42;
constexpr int kLineHeight = 28;
constexpr int kLabelHeight = 20;
constexpr int kBarHeight = 22;
constexpr int kButtonHeight = 48;
constexpr int kButtonBottomGap = 22;
constexpr int kMinButtonWidth = 175;
constexpr int kMaxButtonWidth = 220;

}  // namespace

int ScaleForDpi(int value, int dpi) { return ::MulDiv(value, dpi == 0 ? 96 : dpi, 96); }

ClientSize BaseClientSize(int dpi) { return {ScaleForDpi(kClientWidth, dpi), ScaleForDpi(kClientHeight, dpi)}; }

ClientSize FitClientSize(int workWidth, int workHeight, int frameWidth, int frameHeight, int dpi) {
    const ClientSize base = BaseClientSize(dpi);
    const int margin = ScaleForDpi(kWorkAreaMargin, dpi);
    const int fitWidth = workWidth - 2 * margin - frameWidth;
    const int fitHeight = workHeight - 2 * margin - frameHeight;
    return {std::min(base.width, std::max(ScaleForDpi(kMinClientWidth, dpi), fitWidth)),
            std::min(base.height, std::max(ScaleForDpi(kMinClientHeight, dpi), fitHeight))};
}

ClientSize MinimumTrackSize(bool haveWorkArea, int workWidth, int workHeight, int dpi) {
    const ClientSize base = BaseClientSize(dpi);
    if (!haveWorkArea) return base;
    return {std::min(workWidth, base.width), std::min(workHeight, base.height)};
}

WindowLayout ComputeLayout(int clientWidth, int clientHeight, int dpi) {
    const auto S = [dpi](int value) { return ScaleForDpi(value, dpi); };
    const int W = std::max(1, clientWidth);
    const int H = std::max(1, clientHeight);
    const int M = S(kMargin);
    const int T = S(kTop);
    const int I = S(kIconSize);
    const int X = M + I + S(kIconGap);
    const int contentW = std::max(S(kMinContentWidth), W - 2 * M);
    const int headerW = std::max(S(kMinHeaderWidth), W - X - M);
    const int buttonW = std::clamp(W / 5, S(kMinButtonWidth), S(kMaxButtonWidth));
    const int buttonsTop = H - S(kButtonHeight) - S(kButtonBottomGap);

    const int y1 = T + I + S(20);
    const int y2 = y1 + S(kLineHeight) + S(7);
    const int y3 = y2 + S(kLineHeight) + S(12);
    const int y4 = y3 + S(kLabelHeight) + S(5);
    const int y5 = y4 + S(kBarHeight) + S(12);
    const int y6 = y5 + S(kLabelHeight) + S(5);

    WindowLayout layout{};
    const auto place = [&layout](Slot slot, Placement placement) {
        layout[static_cast<std::size_t>(slot)] = placement;
    };
    place(Slot::Icon, {M, T, I, I});
    place(Slot::Header, {X, T, headerW, S(kHeaderHeight)});
    place(Slot::Subtitle, {X, T + S(kHeaderHeight), headerW, S(kLineHeight)});
    place(Slot::Status, {M, y1, contentW, S(kLineHeight)});
    place(Slot::Detail, {M, y2, contentW, S(kLineHeight)});
    place(Slot::TotalLabel, {M, y3, contentW, S(kLabelHeight)});
    place(Slot::TotalBar, {M, y4, contentW, S(kBarHeight)});
    place(Slot::FileLabel, {M, y5, contentW, S(kLabelHeight)});
    place(Slot::FileBar, {M, y6, contentW, S(kBarHeight)});
    place(Slot::Counts, {M, y6 + S(kBarHeight) + S(14), contentW, S(kLineHeight)});
    place(Slot::Rate, {M, buttonsTop - S(10) - S(kLabelHeight), contentW, S(kLabelHeight)});
    place(Slot::Repair, {M, buttonsTop, buttonW, S(kButtonHeight)});
    place(Slot::Play, {W - buttonW - M, buttonsTop, buttonW, S(kButtonHeight)});
    return layout;
}
