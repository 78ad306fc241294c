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
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator it(argv[i], error), end;
             !error && it != end; it.increment(error))
            if (it->is_regular_file())
                inputs.push_back(it->path());
        if (error)
            return std::fprintf(stderr, "cannot read %s\n", argv[i]), 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const std::filesystem::path& input : inputs) {
        std::fprintf(stderr, "%s\n", input.string().c_str());
        const std::string bytes{
            std::istreambuf_iterator<char>(std::ifstream(input, std::ios::binary).rdbuf()), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s inputs replayed\n", std::to_string(inputs.size()).c_str());
    return inputs.empty() ? 1 : 0; // no input at all means a corpus went missing
}
