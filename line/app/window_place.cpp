#include "line/app/window_place.h"

#include <algorithm>

QRect PlaceWindow(const QRect& available, const QMargins& frame, const QSize& wanted, const QSize& minimum,
                  const std::optional<QRect>& saved) {
  if (saved && saved->isValid() && available.contains(saved->marginsAdded(frame)) &&
      saved->width() >= minimum.width() && saved->height() >= minimum.height())
    return *saved;
  const QRect room = available.marginsRemoved(frame);
  // A screen smaller than the minimum gets the window as large as it can hold, not larger.
  const QSize size(std::min(room.width(), std::max(wanted.width(), std::min(minimum.width(), room.width()))),
                   std::min(room.height(), std::max(wanted.height(), std::min(minimum.height(), room.height()))));
  QRect client(QPoint(), size);
  client.moveCenter(room.center());
  return client;
}
