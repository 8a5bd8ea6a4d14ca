// Publishing this process's window titles in the runtime folder so that
// FindWindow in another process of ours finds them.
#pragma once

namespace w32 {

// Rewrites this process's published list (titles, iconic flags). Called
// whenever a top-level window's title or state changes, or it goes away.
void PublishWindows();

}  // namespace w32
