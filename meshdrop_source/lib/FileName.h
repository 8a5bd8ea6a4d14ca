#pragma once
// The local name of a job's file. Whether the client gives it or it is taken
// from the URL, it must pass IsPlainFileName before anything is created.

#include <string>

#include "ut/utFileName.h"

// The name a file is stored under: `givenName` when it is not null or empty,
// else the text after the last "/" of the URL (empty when there is none).
std::string FileNameOf(const std::string& url, const char* givenName);

// Whether at least one "|"-separated address of the URL is an http:// or
// https:// address with a host: one that the downloaders can fetch (a
// mirror that cannot be used is skipped when its turn comes).
bool IsUsableFileUrl(const std::string& url);
