#pragma once
// The path provider of the 32-bit engine, version 3.

#include "IGetPath.h"

class CGetPath_V32 : public IGetPath {
public:
    static constexpr const char* kCompanyFolder = "Orvane\\";
    static constexpr const char* kInstallFolder = "qlsDownloadV32\\";
    static constexpr const char* kProgramFile = "QLSDownloadV32.exe";

    void GetBaseFolder(std::string& folder) const override;
    void GetInstallFolder(std::string& folder) const override;
    void GetProgramPath(std::string& path) const override;
};
