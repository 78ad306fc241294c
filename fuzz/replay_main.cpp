// The replay driver every fuzz target also builds with: each file under the folders given, in name
// order, goes once through LLVMFuzzerTestOneInput, so an input that crashed once is tried in every
// build. Each name is printed before its run, so a crash points at its input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(fs::u8path(argv[i]), error), end;
             !error && it != end; it.increment(error))
            if (it->is_regular_file())
                inputs.push_back(it->path());
        if (error) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
        std::fprintf(stderr, "%s\n", input.u8string().c_str());
        std::ifstream file(input, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s inputs replayed\n", std::to_string(inputs.size()).c_str());
    return inputs.empty() ? 1 : 0; // no input at all means a corpus went missing
}
