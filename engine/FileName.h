#pragma once
// The names the engine writes under. A file of a job is written only under a
// name that passes the library's rule, IsPlainFileName: one plain path
// component of the job's folder.

#include <string>
#include <string_view>

#include "ut/utFileName.h"

namespace engine {

// The name a file takes when the job gives none: the text after the last "/"
// of its first address, up to a "?" or "#".
std::string NameFromUrl(std::string_view url);

// Whether the name ends in one of the engine's own suffixes (a job may not
// name a file that would collide with another file's part or state file).
bool HasEngineSuffix(std::string_view name);

// The part file and the state file of a file (and the state file's temporary
// name): the name with a suffix, or, when that would pass 255 bytes, "~" and
// 16 hex digits of a hash of the name with the suffix.
std::string PartFileName(std::string_view name);
std::string StateFileName(std::string_view name);
std::string StateTempName(std::string_view name);

} // namespace engine
