// vqs-decrypt: prints the plain text of an enciphered run file.
//   vqs-decrypt [--pass-phrase TEXT] FILE
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cipher.h"
#include "recordreader.h"

namespace {

int usage(FILE* out) {
    std::fprintf(out,
                 "usage: vqs-decrypt [--pass-phrase TEXT] FILE\n"
                 "Prints the deciphered text of vqsData.enc or testInfo.enc.\n"
                 "Without --pass-phrase the program's built-in pass phrase is used.\n");
    return out == stdout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* passPhrase = builtInPassPhrase;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help"))
            return usage(stdout);
        if (!std::strcmp(argv[i], "-p") || !std::strcmp(argv[i], "--pass-phrase")) {
            if (++i == argc)
                return usage(stderr);
            passPhrase = argv[i];
        } else if (!path) {
            path = argv[i];
        } else {
            return usage(stderr);
        }
    }
    if (!path)
        return usage(stderr);

    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "vqs-decrypt: cannot open %s\n", path);
        return 1;
    }
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

    auto cipher = createRecordCipher();
    if (!cipher->init(passPhrase)) {
        for (const RecordCipher::Failure& failure : cipher->takeFailures())
            std::fprintf(stderr, "vqs-decrypt: %s %lu\n", failure.message, failure.code);
        return 1;
    }
    const RecordReadResult result = readRecords(data, *cipher);
    cipher->release();

#ifdef _WIN32
    // The text carries its own CR LF line ends.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::fwrite(result.text.data(), 1, result.text.size(), stdout);
    std::fflush(stdout);
    if (!result.complete) {
        std::fprintf(stderr, "vqs-decrypt: %s: %s at byte offset %llu (after %llu complete records)\n", path,
                     result.problem.c_str(), static_cast<unsigned long long>(result.breakOffset),
                     static_cast<unsigned long long>(result.records));
        return 2;
    }
    return 0;
}
