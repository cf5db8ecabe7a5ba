// Resizes of the named objects, reported by the kernel: an inotify descriptor per object raises
// SIGIO when the object changes size (IN_MODIFY comes with every ftruncate; writes through a
// mapping raise nothing), and the signal's handler counts them. The region and the events then
// measure an object only when the count has moved, instead of an fstat in every turn (a system
// call costs as much as a tenth of a turn).
#pragma once

#include <csignal>
#include <cstdint>

namespace conproxy {

// An inotify descriptor that raises SIGIO on each resize of the object behind fd, or -1 when
// any step is not possible here (SIGIO blocked, or not taken by the signal table): the caller
// then measures every time.
int WatchResizes(int fd);

// Whether the object may have changed size since the count in seen: always without a watch.
// The count is taken before the watch's queue is drained and the size after: a resize in
// between is measured now and once more at the next call, never missed.
bool ResizedSince(intptr_t watch, long& seen);

// For the signal table: takes SIGIO once a watch exists (counting a resize), false before.
bool TakeResizeSignal();
// Counts a resize that was learned otherwise (a touch of a cut page), async-signal-safe.
void CountResize();

}  // namespace conproxy
