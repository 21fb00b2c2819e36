// Reads one HEX file into an image, as the programs do before a download, and reports the
// outcome:
//   hex_load FILE [REPEAT]
// Prints "result R, N ms per load (best of REPEAT)" (R is 1 when the read succeeded, 0 when
// not) and exits 0 when the read succeeded. The reader's messages go to stderr.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "helpers/text_format.h"
#include "image/hex_reader.h"

using namespace quillon;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hex_load FILE [REPEAT]\n");
        return 2;
    }
    const std::string path = argv[1];
    // Fewer than 1 (or no number) takes 1.
    const int repeat = argc > 2 ? static_cast<int>(std::max<std::int64_t>(
                                      1, DecimalInRange(argv[2], 0, 1000000).value_or(0)))
                                : 1;
    HexReadResult read;
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        read = ReadHexFile(path);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    for (const std::string& text : ReaderMessages(read)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), text.c_str());
    }
    const int result = read ? 1 : 0;
    int used = 0;
    // A read that failed holds no image.
    for (int s = 0; read && s < HexImage::kSegmentCount; ++s) {
        used += read->image.HoldsData(s) ? 1 : 0;
    }
    std::printf("result %d, %d segments with data, %.1f ms per load (best of %d)\n", result, used,
                best, repeat);
    return result == 1 ? 0 : 1;
}
