#pragma once
// Reads the library's service log from the test's C: folder, line by line,
// checking that every line has the log's exact form.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <win32_ext.h>
#include <windows.h>

class LibraryLog {
public:
    // The log file as a POSIX path; its folder is created, so that lines are
    // kept before any job downloader has reset the log.
    static std::string Prepare()
    {
        char appData[MAX_PATH] = {};
        SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
        std::string folder = appData;
        if (!folder.empty() && folder.back() != '\\')
            folder += '\\';
        folder += "Orvane\\qlsDownloadV32\\config\\";
        const std::string posixFolder = W32PathToPosix(std::string_view(folder));
        std::filesystem::create_directories(posixFolder);
        const std::string file = posixFolder + "/service.log";
        std::ofstream(file, std::ios::trunc).close();
        return file;
    }

    // The messages of the log, in order. A line that does not have the form
    // "[" + asctime text + "] " + message + CR LF is returned as "<malformed: ...>".
    static std::vector<std::string> Messages(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        static const std::regex line(R"(\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) )"
                                     R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] )"
                                     R"([0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\] (.*)\r)");
        std::vector<std::string> messages;
        std::string raw;
        while (std::getline(text, raw)) {
            std::smatch match;
            if (std::regex_match(raw, match, line))
                messages.push_back(match[3]);
            else
                messages.push_back("<malformed: " + raw + ">");
        }
        const std::string all = text.str();
        if (!all.empty() && all.compare(all.size() - std::min<size_t>(2, all.size()), 2, "\r\n") != 0)
            messages.push_back("<last line without CR LF>");
        return messages;
    }
};
