// Waiting for something slow without freezing the windows: the wait runs on
// a helper thread while the window thread keeps painting and keeps receiving
// posted messages. Input (mouse, keys) waits until the wait is over.
#pragma once

#include <functional>

void AfxWaitKeepingWindowsPainted(const std::function<void()>& blockingWait);
