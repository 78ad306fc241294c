#include "core/diagnostic_file.h"

#include "core/settings.h"
#include "platform/files.h"

void DiagnosticFileWrite(const std::wstring& name, const std::string& bytes) {
    const std::wstring& path = settings.settingsPath;
    if (path.empty())
        return;
    const std::size_t cut = path.find_last_of(L"\\/");
    const std::wstring folder =
        cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
    WriteWholeFile(folder + name, bytes);
}
