#pragma once

namespace zarn {

// Called on a thread that draws text, before it does: has what Qt keeps for
// that thread (its font cache, its FreeType library and faces) released by
// the thread itself when it ends, on threads Qt did not start. Qt 6.4 on
// Windows would release it later on a watcher thread of its own, while
// other threads release the same faces: the heap is corrupted and the
// program dies. Elsewhere Qt already does it this way, and this does nothing.
void ReleaseQtThreadDataAtThreadEnd();

}  // namespace zarn
