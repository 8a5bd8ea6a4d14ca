#pragma once
// CBinaryExecute_V3: starts the local download engine's program, asking for
// elevation where the library was told to, and waits until the program is
// ready for input.

#include "BinaryExecBase.h"

class CBinaryExecute_V3 : public CBinaryExecBase {
public:
    int GetProgramPath(std::string& path) override;
    std::string& CopyPath(std::string& to, const std::string& from) override;

    // Starts the engine program (the argument is not used): "runas" when the
    // system has elevation (NT 6 and later) and the library's elevation switch
    // is 1, else "open"; a declined elevation falls back to "open", then to a
    // direct process start; any other shell failure to a direct start. Each
    // step is logged. After a start, waits until the program is idle for
    // input. Returns 1 when the program was started, 0 otherwise.
    int Execute(const char* arguments);
};

// The process-wide instance.
CBinaryExecute_V3& GetBinaryExecutor();
