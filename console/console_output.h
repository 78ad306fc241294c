#pragma once
// Standard output as a log of status lines: one line each, with a local time stamp. The output is
// usually a pipe or the journal, which may stop taking lines; so any thread hands its line to a
// bounded queue and never waits, and one writer thread of its own writes them out. While the
// output is stuck the oldest lines go first and a note says how many were dropped.
#include <chrono>
#include <string>

#include "frontend/pages.h"

// Starts the writer thread, which takes no signal; false when no thread can be made. Until it
// runs, and when it could not start, each line is written at once by the thread that prints it.
bool StartOutput();

void PrintLine(const std::string& text);
// The process's last line, once no worker prints any more: a live line still waiting for its
// second goes out before it, so that nothing follows it.
void PrintLastLine(const std::string& text);

// "page: text" with the page's name, the text made printable.
void PrintStatus(FrontEndPage page, const std::wstring& text);
// The same for a rig source: "HRD (TCP): text", "Hamlib (TCP): text".
void PrintStatus(RigSource source, const std::wstring& text);

// The Live Status line, which a logger may change a thousand times a second: at most one a second
// goes out, the newest; a line handed over while the last is younger than a second replaces any
// other still waiting and is written once the second is up.
void PrintLiveStatus(const std::wstring& text);

// Waits until every line handed over so far has been written (a waiting live line at once), at
// most `limit`; false when the output did not take them in time. Before the process ends: a writer
// that is stuck is then left behind.
bool FlushOutput(std::chrono::milliseconds limit);

// UTF-8 of a text with every control character (C0, DEL, C1) turned into a blank, so that values
// from the network can neither break a line nor drive the terminal.
std::string PrintableText(const std::wstring& text);
