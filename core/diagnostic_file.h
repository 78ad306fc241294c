#pragma once
#include <string>

// Writes bytes to a file of that name beside settings.ini, replacing it; failures are ignored.
void DiagnosticFileWrite(const std::wstring& name, const std::string& bytes);
