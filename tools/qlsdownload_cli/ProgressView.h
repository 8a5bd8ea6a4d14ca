// What qlsdownloader-cli prints while it works. On a terminal the progress is
// one bar line redrawn in place; elsewhere (a pipe, a log file) it is one
// plain line per report. Messages go to standard output, errors to standard
// error; in quiet mode only errors are printed.
#pragma once

#include <cstdio>
#include <string>

#include "ProgressText.h"

class ProgressView {
public:
    enum class Mode { Bar, Lines, Quiet };

    // The mode that suits standard output: Bar on a terminal, else Lines.
    static Mode ModeForStdout(bool quiet);

    ProgressView(Mode mode, FILE* out, FILE* err);
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;

    void Message(const std::string& line);
    void Error(const std::string& line);
    void Progress(const ProgressSample& sample);
    // Ends the bar line, so that what follows starts on a line of its own.
    void EndProgress();

private:
    void ClearBar();
    void DrawBar();
    int Columns() const;

    Mode mode_;
    FILE* out_;
    FILE* err_;
    bool barShown_ = false;
    ProgressSample last_;
};
