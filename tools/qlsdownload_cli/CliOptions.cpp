#include "CliOptions.h"

#include <cctype>
#include <limits>
#include <map>
#include <set>

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error)
{
    const std::map<std::string, bool*> switches = {
        {"--consent", &options.consent}, {"--install", &options.install}, {"--check", &options.checkOnly},
        {"--quiet", &options.quiet},     {"-q", &options.quiet},          {"--help", &options.help},
        {"-h", &options.help},           {"--version", &options.version},
    };
    std::string rate;
    const std::map<std::string, std::string*> valued = {
        {"--url", &options.fileListUrl}, {"-u", &options.fileListUrl}, {"--folder", &options.folder},
        {"-d", &options.folder},         {"--limit-rate", &rate},      {"--collect-logs", &options.collectLogs},
    };
    std::set<const std::string*> given;
    auto take = [&](std::string* target, const std::string& name, const std::string& value) {
        if (given.contains(target)) {
            error = name + " is given twice";
            return false;
        }
        if (value.empty()) {
            error = name + " needs a value";
            return false;
        }
        given.insert(target);
        *target = value;
        return true;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (auto flag = switches.find(arg); flag != switches.end()) {
            *flag->second = true;
            continue;
        }
        const size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            const auto option = valued.find(arg.substr(0, equals));
            if (option == valued.end()) {
                error = "unknown option " + arg.substr(0, equals);
                return false;
            }
            if (!take(option->second, option->first, arg.substr(equals + 1)))
                return false;
            continue;
        }
        if (auto option = valued.find(arg); option != valued.end()) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            if (!take(option->second, arg, args[++i]))
                return false;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        }
        // A bare argument is the file list's address, as for the window.
        if (!take(&options.fileListUrl, "the file list address", arg))
            return false;
    }
    if (!rate.empty() && !ParseRate(rate, options.rateLimit)) {
        error = "--limit-rate takes a number of bytes per second with K, M or G after it, such as 500K or 2M";
        return false;
    }
    if (options.checkOnly && options.install) {
        error = "--check downloads nothing, so there is nothing to --install";
        return false;
    }
    return true;
}

std::string CliUsage()
{
    return "Usage: qlsdownloader-cli [OPTION]... [URL]\n"
           "Downloads the game's installation package without a window: fetches the\n"
           "file list (from URL, or the address built into the downloader), checks\n"
           "the sizes of the files and downloads them into a folder.\n"
           "\n"
           "  -u, --url URL      the file list's address (the same as URL)\n"
           "  -d, --folder DIR   download into DIR (default: the downloader's usual\n"
           "                     folder, C:\\quorvik\\veilrune\\ of the Wine-style C: drive)\n"
           "      --consent      agree to the high-speed mode; without it the download\n"
           "                     is limited to 384 KB per second\n"
           "      --install      run the downloaded installer once every file is there\n"
           "      --check        fetch the list and check the sizes only\n"
           "      --limit-rate RATE\n"
           "                     hold the whole download under RATE bytes per second;\n"
           "                     K, M or G after the number count KiB, MiB or GiB\n"
           "                     (as curl takes it: 500K, 2M)\n"
           "      --collect-logs FILE\n"
           "                     pack the logs, the versions and the platform into the\n"
           "                     archive FILE (.tar.gz, .zip, ...) for a support request\n"
           "  -q, --quiet        print errors only\n"
           "  -h, --help         show this help and exit\n"
           "      --version      show the version and exit\n"
           "\n"
           "On a terminal a progress bar shows the file, the bytes, the speed and the\n"
           "time left; otherwise one plain line a second says the same.\n"
           "Ctrl-C stops the download: open files are closed and no file that was\n"
           "still downloading is reported complete.\n"
           "\n"
           "Exit status:\n"
           "  0  every file downloaded (and the installer started, with --install)\n"
           "  1  the download library did not start\n"
           "  2  bad command line\n"
           "  3  the file list could not be fetched or names no usable file\n"
           "  4  the sizes of the files could not be checked\n"
           "  5  a file could not be downloaded\n"
           "  6  not enough disk space\n"
           "  7  --install: no installer in the package, or it could not be started\n"
           "  130, 143  stopped by Ctrl-C (SIGINT) or SIGTERM\n"
           "\n"
           "The C: drive is $MESHDROP_DRIVE_C, else $WINEPREFIX/drive_c, else\n"
           "~/.wine/drive_c when it exists, else ~/.local/share/meshdrop/drive_c.\n";
}

bool ParseRate(const std::string& text, std::uint64_t& bytesPerSecond)
{
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    if (digits == 0 || digits > 19 || text.size() > digits + 1)
        return false;
    std::uint64_t unit = 1;
    if (digits < text.size()) {
        switch (text[digits]) {
        case 'G':
        case 'g':
            unit = 1ull << 30;
            break;
        case 'M':
        case 'm':
            unit = 1ull << 20;
            break;
        case 'K':
        case 'k':
            unit = 1ull << 10;
            break;
        case 'B':
        case 'b':
            break;
        default:
            return false;
        }
    }
    const std::uint64_t number = std::stoull(text.substr(0, digits));
    if (number > std::numeric_limits<std::uint64_t>::max() / unit)
        return false;
    bytesPerSecond = number * unit;
    return true;
}
