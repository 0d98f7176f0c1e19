#pragma once

#include <QMargins>
#include <QRect>
#include <optional>

// Where a window goes on a screen: `available` is the screen's free area (panels excluded),
// `frame` what the window manager adds around the client area (title bar, borders). The
// result is the client geometry, chosen so that the whole frame lies inside `available`:
// `saved` when it fits there as it is, else `wanted` shrunk to fit (never below `minimum`
// where the screen allows it) and centred.
QRect PlaceWindow(const QRect& available, const QMargins& frame, const QSize& wanted, const QSize& minimum,
                  const std::optional<QRect>& saved = std::nullopt);

// What a title bar and borders take when the window manager has not said yet.
inline constexpr QMargins AssumedFrame{8, 36, 8, 8};
