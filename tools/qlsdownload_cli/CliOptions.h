// The command line of qlsdownloader-cli.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CliOptions {
    std::string fileListUrl; // empty: the built-in address
    std::string folder;      // a POSIX folder; empty: the usual download folder
    bool consent = false;    // the player agrees to the high-speed mode
    bool install = false;    // run the installer after the download
    bool checkOnly = false;  // fetch the list and check the sizes, download nothing
    bool quiet = false;      // errors only
    bool help = false;
    bool version = false;
    std::uint64_t rateLimit = 0; // --limit-rate: bytes per second for the whole job; 0: no limit
    std::string collectLogs;     // --collect-logs: the archive to pack the logs into
};

// Fills `options` from the arguments after the program name; false with a
// reason in `error` when they make no sense.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// The text --help prints.
std::string CliUsage();

// A rate as curl's --limit-rate takes it: a whole number of bytes per
// second, optionally followed by one unit, K, M or G (powers of 1024, either
// case) or B. False when malformed or too large.
bool ParseRate(const std::string& text, std::uint64_t& bytesPerSecond);
