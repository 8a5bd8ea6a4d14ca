#include "ProgressView.h"

#include <sys/ioctl.h>
#include <unistd.h>

ProgressView::Mode ProgressView::ModeForStdout(bool quiet)
{
    if (quiet)
        return Mode::Quiet;
    return isatty(STDOUT_FILENO) ? Mode::Bar : Mode::Lines;
}

ProgressView::ProgressView(Mode mode, FILE* out, FILE* err) : mode_(mode), out_(out), err_(err) {}

void ProgressView::Message(const std::string& line)
{
    if (mode_ == Mode::Quiet)
        return;
    ClearBar();
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    DrawBar();
}

void ProgressView::Error(const std::string& line)
{
    ClearBar();
    std::fprintf(err_, "qlsdownloader-cli: %s\n", line.c_str());
    std::fflush(err_);
    DrawBar();
}

void ProgressView::Progress(const ProgressSample& sample)
{
    switch (mode_) {
    case Mode::Quiet:
        return;
    case Mode::Lines:
        std::fprintf(out_, "%s\n", PlainLine(sample).c_str());
        std::fflush(out_);
        return;
    case Mode::Bar:
        last_ = sample;
        barShown_ = true;
        DrawBar();
        return;
    }
}

void ProgressView::EndProgress()
{
    if (mode_ == Mode::Bar && barShown_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    barShown_ = false;
}

void ProgressView::ClearBar()
{
    if (mode_ == Mode::Bar && barShown_) {
        // Back to the start of the line and erase it.
        std::fputs("\r\x1b[K", out_);
        std::fflush(out_);
    }
}

void ProgressView::DrawBar()
{
    if (mode_ != Mode::Bar || !barShown_)
        return;
    std::fprintf(out_, "\r%s\x1b[K", BarLine(last_, Columns()).c_str());
    std::fflush(out_);
}

int ProgressView::Columns() const
{
    winsize size{};
    if (ioctl(fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}
