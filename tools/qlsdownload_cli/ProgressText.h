// The texts of qlsdownloader-cli's progress: sizes, speeds and times as
// download tools show them, the bar line of a terminal and the plain line of
// a log.
#pragma once

#include <cstdint>
#include <string>

// What one progress report of the library says, as the front end shows it.
struct ProgressSample {
    uint64_t done = 0;       // bytes of the job done
    uint64_t total = 0;      // bytes of the job; 0 when unknown
    uint32_t percent = 0;    // of the job
    uint32_t speed = 0;      // bytes per second
    uint64_t remaining = 0;  // seconds
    uint32_t fileNumber = 0; // 1-based number of the current file
    uint32_t fileCount = 0;
    std::string fileName; // UTF-8
};

// "512 B", "1.50 KiB", "12.00 MiB", "3.25 GiB", "1.00 TiB".
std::string FormatBytes(uint64_t bytes);
// FormatBytes of the speed with "/s".
std::string FormatRate(uint64_t bytesPerSecond);
// "H:MM:SS" with as many hours as it takes; "--:--:--" while the speed is 0.
std::string FormatEta(uint64_t seconds, uint32_t speed);
// Seconds until `total` at `speed`, rounded up: while bytes are left, at
// least a second. 0 without a speed.
uint64_t SecondsLeft(uint64_t total, uint64_t done, uint32_t speed);

// The bar line of a terminal `columns` wide, at most columns - 1 columns long
// so that the cursor never wraps:
//   "[2/4] setup.bin  45% [=======>      ] 5.40 MiB/12.00 MiB  1.20 MiB/s  ETA 0:00:05"
// The bar shrinks first, then goes, then the file name is cut.
std::string BarLine(const ProgressSample& sample, int columns);

// One line for a log or a pipe, with the exact byte counts:
//   "[2/4] setup.bin 45% 5662310/12582912 bytes 1.20 MiB/s ETA 0:00:05"
std::string PlainLine(const ProgressSample& sample);

// Columns a UTF-8 text takes on a terminal: East Asian wide characters count
// two.
size_t DisplayColumns(const std::string& utf8);
// The longest start of a UTF-8 text that takes at most `columns`, cut at a
// character boundary.
std::string CutToColumns(const std::string& utf8, size_t columns);
