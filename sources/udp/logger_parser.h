#pragma once
// Turns the loggers' XML datagrams (radio and contact messages) into the station snapshot.
#include <string>

void ParseLoggerDatagram(const std::string& text);
std::string RootElementName(const std::string& text);
std::string ElementText(const std::string& text, const std::string& name);
