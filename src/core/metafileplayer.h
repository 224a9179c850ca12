// Draws the Windows metafiles (WMF, EMF) that documents carry as pictures,
// so that they show as the picture instead of a framed placeholder. The
// player reads the records itself, with every length and count checked
// against the bytes that are there, and paints on a QImage only: it may run
// on any thread. The metafile's bytes are not changed (a document saves them
// as they came).
#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

namespace Inkwell::MetafilePlayer {

// What one picture may cost, so that a hostile file cannot make the player
// loop, allocate or paint without bound: records read, objects alive at
// once, DC states saved, points in one shape, and the pixel area all its
// drawing may touch (at least the target's area 16 times over). Past the
// area cap the picture shows what was drawn so far; it costs a second at most.
inline constexpr int maxRecords = 1'000'000;
inline constexpr int maxObjects = 4096;
inline constexpr int maxSavedStates = 256;
inline constexpr int maxPointsPerShape = 1'000'000;
inline constexpr qint64 maxPaintedArea = qint64(1) << 30;
inline constexpr int minPaintedFrames = 16;

// The metafile `bytes` of kind `format` ("wmf" or "emf") drawn into a
// picture of `size` pixels, its frame filling the picture. Null when the
// bytes are not such a metafile, `size` passes the picture limits of
// DocumentImages, or nothing in it could be drawn: the caller then shows a
// placeholder.
QImage render(QByteArrayView bytes, QByteArrayView format, QSize size);

} // namespace Inkwell::MetafilePlayer
