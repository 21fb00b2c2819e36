// Loads one HEX file into the image memory, as the jobs do, and reports the outcome:
//   hex_load FILE [REPEAT]
// Prints "result R, N ms per load (best of REPEAT)" and exits 0 when the load succeeded.
// Message boxes go to stderr.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/hex_reader.h"
#include "image/image_memory.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hex_load FILE [REPEAT]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int repeat = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    int result = 0;
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        result = LoadHexFile(path);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    int used = 0;
    for (int s = 0; s < ImageMemory::kSegmentCount; ++s) {
        used += g_imageMemory.FillMark(s) > 0 ? 1 : 0;
    }
    std::printf("result %d, %d segments with data, %.1f ms per load (best of %d)\n", result, used,
                best, repeat);
    return result == 1 ? 0 : 1;
}
