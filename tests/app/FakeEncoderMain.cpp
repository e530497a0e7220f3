// A stand-in for the encoder in the main window's tests: it takes the encoder's command line, names
// its output last, and behaves as VANTREL_FAKE_ENCODER says:
//   succeed      progress lines, a non-empty output, exit 0
//   empty-fail   a progress line, an empty output, an error line, exit 1
//   keep-fail    leaves the output alone, exit 1
//   slow         progress lines every 100 ms until it is killed
// With VANTREL_FAKE_ENCODER_ARGS set it first writes its arguments there, one per line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {
void Progress(int Kilobytes) {
    std::fprintf(stderr,
                 "frame=   12 fps=0.0 q=2.0 size=     %dkB time=00:00:03.20 bitrate= 1310.7kbits/s    \r",
                 Kilobytes);
    std::fflush(stderr);
}
} // namespace

int main(int argc, char** argv) {
    const char* mode = std::getenv("VANTREL_FAKE_ENCODER");
    const std::string behaviour = mode ? mode : "succeed";
    if (const char* argsFile = std::getenv("VANTREL_FAKE_ENCODER_ARGS")) {
        std::ofstream out(argsFile);
        for (int i = 0; i < argc; ++i)
            out << argv[i] << '\n';
    }
    const std::string output = argc > 1 ? argv[argc - 1] : "";
    if (behaviour == "succeed") {
        Progress(256);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Progress(512);
        std::ofstream(output, std::ios::binary) << "converted";
        return 0;
    }
    if (behaviour == "empty-fail") {
        Progress(128);
        std::ofstream(output, std::ios::binary);
        std::fprintf(stderr, "\nError writing trailer of %s: No space left on device\n", output.c_str());
        return 1;
    }
    if (behaviour == "keep-fail") {
        std::fprintf(stderr, "Conversion failed!\n");
        return 1;
    }
    for (int kilobytes = 16;; kilobytes += 16) {
        Progress(kilobytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
