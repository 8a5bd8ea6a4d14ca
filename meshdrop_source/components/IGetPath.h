#pragma once
// Where the local download engine lives: its company folder under the user's
// roaming application-data folder, its install folder and its program path.
// The library's own data (the service log) lives in the install folder too.

#include <string>

class IGetPath {
public:
    virtual ~IGetPath() = default;
    // The application-data folder with one trailing "\", then "Orvane\".
    virtual void GetBaseFolder(std::string& folder) const = 0;
    // GetBaseFolder, then "qlsDownloadV32\".
    virtual void GetInstallFolder(std::string& folder) const = 0;
    // GetInstallFolder, then "QLSDownloadV32.exe".
    virtual void GetProgramPath(std::string& path) const = 0;
};

// The process-wide path provider.
const IGetPath& GetPathProvider();
