#pragma once
// The address of the engine update list.

#include <string>

// The path of the update list on the update server.
inline constexpr const char* kEngineUpdateListPath = "/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml";

// MESHDROP_UPDATE_LIST_URL when it is set and not empty (tests, the demo),
// else the address built into the library.
std::string EngineUpdateListUrl();
