// Runs the fuzz target once on every file named, or on every file in the
// folders named, in name order: the saved corpus as an ordinary test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto &e : fs::directory_iterator(argv[i]))
                inputs.push_back(e.path());
        } else {
            inputs.push_back(argv[i]);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path &p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<unsigned char> b(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
        LLVMFuzzerTestOneInput(b.data(), b.size());
    }
    // Standard output was handed to the null device by the target.
    std::fprintf(stderr, "replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
