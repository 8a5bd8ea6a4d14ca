#include "PeVersionResource.h"

#include <cstdlib>

#include "TempDir.h"

namespace testsupport {

bool MakePeWithVersionInfo(const std::string& versionInfo, const std::string& exePath)
{
    TempDir work("meshdrop-pe");
    if (!writeFile(work.file("v.rc"), versionInfo))
        return false;
    // windres runs the C preprocessor over the script; the host's cpp will do.
    const std::string command = "x86_64-w64-mingw32-windres --preprocessor=cpp -c 65001 -i '" + work.file("v.rc") +
                                "' -o '" + work.file("v.o") + "' && x86_64-w64-mingw32-ld --entry=0 -o '" + exePath +
                                "' '" + work.file("v.o") + "'";
    return std::system(command.c_str()) == 0;
}

std::string VersionInfoStatement(const std::string& fileVersion, const std::string& stringTables,
                                 const std::string& translation)
{
    return "1 VERSIONINFO\nFILEVERSION " + fileVersion + "\nPRODUCTVERSION " + fileVersion +
           "\nFILEOS 0x40004\nFILETYPE 0x1\nBEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n" + stringTables +
           "  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", " + translation + "\n  END\nEND\n";
}

} // namespace testsupport
