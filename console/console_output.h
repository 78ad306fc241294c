#pragma once
// Standard output as a log of status lines: one line each, with a local time stamp, written whole
// and flushed, whichever thread writes it (the output is usually a pipe or the journal).
#include <string>

void PrintLine(const std::string& text);

// "page: text", the text made printable.
void PrintStatus(const char* page, const std::wstring& text);

// UTF-8 of a text with every control character (C0, DEL, C1) turned into a blank, so that values
// from the network can neither break a line nor drive the terminal.
std::string PrintableText(const std::wstring& text);
