#pragma once

#include <QString>
#include <cstdio>

namespace vestrel::cli {

// The running backup's progress on the standard error. On a terminal one line that redraws
// itself, a bar with the percent; otherwise (a pipe, the journal) one plain line per message
// of the server, as it came.
class Progress {
public:
    Progress(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
    // True when the file is a terminal.
    static bool IsTerminal(std::FILE* file);

    void Percent(const QString& message, int percent);
    // A message of its own line: the end of the bar first.
    void Line(const QString& text);

private:
    void endBar();

    std::FILE* out_;
    bool terminal_;
    bool barShown_ = false;
};

// Windows: a program built for the window has no console of its own; the command line writes
// to the console it was started from. Nothing elsewhere.
void UseParentConsole();

} // namespace vestrel::cli
