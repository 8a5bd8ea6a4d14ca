// The colours of the downloader's artwork: the window's bitmaps and the
// program's icons are drawn with them.
#pragma once

#include <QColor>

namespace artwork {

inline const QColor kMagenta(255, 0, 255); // transparent pixels of button images
inline const QColor kPanel(0x26, 0x2B, 0x33);
inline const QColor kPanelDark(0x1A, 0x1E, 0x24);
inline const QColor kEdge(0x3C, 0x44, 0x50);
inline const QColor kGold(0xD5, 0xBA, 0x11); // also the speed graph's bars
inline const QColor kCaption(0xC9, 0xCF, 0xD8);

} // namespace artwork
