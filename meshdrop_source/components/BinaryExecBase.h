#pragma once
// The base of the program starters: where the program is, and a path copy.

#include <string>

class CBinaryExecBase {
public:
    // Writes the program's path and returns 1 when the program exists; else 0.
    virtual int GetProgramPath(std::string& path) = 0;
    // Copies `from` into `to` and returns `to`.
    virtual std::string& CopyPath(std::string& to, const std::string& from) = 0;
    virtual ~CBinaryExecBase() = default;
};
