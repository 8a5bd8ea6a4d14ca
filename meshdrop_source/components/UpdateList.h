#pragma once
// Reading the engine update list: the version it offers for the engine
// program, compared with the installed program's, and the archives to fetch.
//
//   <root>
//     <file>
//       <QLSDownloadV32.exe ver="..." url="..." hash="..."/>   one child per file
//     </file>
//     <all><all url="..." hash="..."/></all>                     every file at once
//   </root>

#include <string>
#include <vector>

class CXMLParserOrvane;

// One archive to fetch and where it goes.
struct UpdateRecord {
    std::string fileUrl;
    std::string hashUrl; // may be empty: the archive goes unchecked
    std::string name;
    std::string folder; // with its trailing "\"
};

// Reads a parsed update list against the installed engine program and logs
// both versions and the number of files wanted. newVersion: the version the
// list offers (left alone when it offers none). Returns store code 0 with the
// archives to fetch (none when the installed program is current), or 3 when
// the list offers no version or a wanted file has no address.
[[nodiscard]] int ReadUpdateList(const CXMLParserOrvane& parser, std::string& newVersion,
                                 std::vector<UpdateRecord>& records);
