#pragma once
// The address of the engine update list.

#include <string>

// MESHDROP_UPDATE_LIST_URL when it is set and not empty (tests, the demo),
// else the address built into the library (the CMake cache variable
// QLS_UPDATE_LIST_URL, whose path is
// "/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml").
std::string EngineUpdateListUrl();
