#pragma once
// A file of the list names one or more addresses separated by "|": its
// mirrors, tried in their order.
#include <string>
#include <vector>

// The text cut at every "|": the addresses of one file, first to last.
std::vector<std::string> SplitMirrorUrls(const std::string& url);
