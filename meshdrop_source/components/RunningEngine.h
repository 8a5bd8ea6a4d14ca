#pragma once
// The engine program as it runs: the process that listens on the engine's
// loopback port. Only one of the player's own user is ever the engine.

// Asks an engine of this user that listens on the port to leave (it stops
// its jobs with their state saved, then ends) and waits for it, at most
// kLeaveTimeoutMs, so that the program just installed is the one started
// next. Nothing when none listens or the listener is another user's.
void AskRunningEngineToLeave();

// Whether a program of this user listens on the engine's port now; logs
// when another user's does, or none.
[[nodiscard]] bool EngineListensForThisUser();

inline constexpr unsigned kLeaveTimeoutMs = 10000;
