#pragma once
// Gives the test process a fresh, empty C: folder (MESHDROP_DRIVE_C) before
// the first platform call, and removes it when the process ends. Include it
// in every test file that reaches the file system through the library.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class TestDriveC {
public:
    static const std::string& Root()
    {
        static const std::string root = Make();
        return root;
    }

private:
    static std::string Make()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "meshdrop-drive-c-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        setenv("MESHDROP_DRIVE_C", pattern.c_str(), 1);
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removeAtExit, ignored);
        });
        return pattern;
    }
};

// Runs before main, hence before any platform call of the test.
[[maybe_unused]] inline const bool g_testDriveCReady = !TestDriveC::Root().empty();
