#include "ProgressView.h"

#include <sys/ioctl.h>
#include <unistd.h>

ProgressView::Mode ProgressView::ModeForStdout(bool quiet)
{
    if (quiet)
        return Mode::Quiet;
    return isatty(STDOUT_FILENO) ? Mode::Bar : Mode::Lines;
}

ProgressView::ProgressView(Mode mode, FILE* out, FILE* err) : m_mode(mode), m_out(out), m_err(err) {}

void ProgressView::Message(const std::string& line)
{
    if (m_mode == Mode::Quiet)
        return;
    ClearBar();
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
    DrawBar();
}

void ProgressView::Error(const std::string& line)
{
    ClearBar();
    std::fprintf(m_err, "qlsdownloader-cli: %s\n", line.c_str());
    std::fflush(m_err);
    DrawBar();
}

void ProgressView::Progress(const ProgressSample& sample)
{
    switch (m_mode) {
    case Mode::Quiet:
        return;
    case Mode::Lines:
        std::fprintf(m_out, "%s\n", PlainLine(sample).c_str());
        std::fflush(m_out);
        return;
    case Mode::Bar:
        m_last = sample;
        m_barShown = true;
        DrawBar();
        return;
    }
}

void ProgressView::EndProgress()
{
    if (m_mode == Mode::Bar && m_barShown) {
        std::fputc('\n', m_out);
        std::fflush(m_out);
    }
    m_barShown = false;
}

void ProgressView::ClearBar()
{
    if (m_mode == Mode::Bar && m_barShown) {
        // Back to the start of the line and erase it.
        std::fputs("\r\x1b[K", m_out);
        std::fflush(m_out);
    }
}

void ProgressView::DrawBar()
{
    if (m_mode != Mode::Bar || !m_barShown)
        return;
    std::fprintf(m_out, "\r%s\x1b[K", BarLine(m_last, Columns()).c_str());
    std::fflush(m_out);
}

int ProgressView::Columns() const
{
    winsize size{};
    if (ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}
