// Composes the bundled demo: a synthetic game image holding sequences, a numbered set
// and sound banks between noise and zero padding, as a disc file would.
//   compose-demo OUTPUT_FILE
#include <cstdio>

#include "testkit/game_image.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: compose-demo OUTPUT_FILE\n");
        return 2;
    }
    using sonvex::testkit::GameImage;
    GameImage image(2026);
    image.Noise(3000).Zeros(2048);
    image.Vh(3, 2, 4).Zeros(512).Vb(4, 24).Zeros(2048);
    image.Seq(32).Zeros(1024).Noise(5000);
    image.SeqSet(3, 16).Zeros(4096);
    image.Vh(2, 3, 2, 2).Zeros(256).Vb(2, 40).Noise(7000);
    image.GpmSeq(24).Zeros(2048);
    image.Seq(48).Noise(4000).Zeros(8192);
    const std::string problem = image.Verify();
    if (!problem.empty()) {
        std::fprintf(stderr, "compose-demo: %s\n", problem.c_str());
        return 1;
    }
    if (!sonvex::testkit::WriteGameImage(argv[1], image)) {
        std::fprintf(stderr, "compose-demo: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %llu bytes\n%s", argv[1], static_cast<unsigned long long>(image.size()),
                image.Describe().c_str());
    return 0;
}
