#include "tests/support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/settings.h"
#include "platform/files.h"
#include "platform/paths.h"

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path = (std::filesystem::temp_directory_path() /
            ("corvane-test-" + std::to_string(stamp) + "-" + std::to_string(counter++)))
               .wstring();
    std::filesystem::create_directories(path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

TempDataFolder::TempDataFolder() {
    SetDataFolderOverride(path);
    settings = Settings{};
    settings.settingsPath = File(L"settings.ini");
}

TempDataFolder::~TempDataFolder() {
    settings = Settings{};
    SetDataFolderOverride(L"");
}

std::string EnvironmentText(const char* name) {
    return std::getenv(name) ? std::getenv(name) : "";
}

std::string FileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
