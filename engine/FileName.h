#pragma once
// The names of the engine's work files beside a download. A file of a job is
// written only under a name that passes the rule the library shares
// (utFileEntry.h): one plain path component of the job's folder that is not
// one of these work files' names.

#include <string>
#include <string_view>

#include "ut/utFileName.h"

namespace engine {

// The part file and the state file of a file (and the state file's temporary
// name): the name with a suffix, or, when that would pass 255 bytes, "~" and
// 16 hex digits of a hash of the name with the suffix.
std::string PartFileName(std::string_view name);
std::string StateFileName(std::string_view name);
std::string StateTempName(std::string_view name);

} // namespace engine
