// vqs-decrypt: prints the plain text of an enciphered run file.
//   vqs-decrypt [--pass-phrase TEXT] FILE
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
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

#ifdef _WIN32
std::wstring wideOf(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 1), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    return wide;
}

std::string utf8Of(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(n > 0 ? n : 1), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], n, nullptr, nullptr);
    utf8.resize(std::strlen(utf8.c_str()));
    return utf8;
}
#endif

// The whole file; false when it cannot be opened. On Windows the path (UTF-8
// here) is opened by the wide call, so a user's name outside the ANSI code
// page in it does no harm.
bool readWholeFile(const char* path, std::vector<uint8_t>* data) {
#ifdef _WIN32
    FILE* file = _wfopen(wideOf(path).c_str(), L"rb");
#else
    FILE* file = std::fopen(path, "rb");
#endif
    if (!file)
        return false;
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data->insert(data->end(), buffer, buffer + n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

int run(int argc, char** argv) {
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

    std::vector<uint8_t> data;
    if (!readWholeFile(path, &data)) {
        std::fprintf(stderr, "vqs-decrypt: cannot open %s\n", path);
        return 1;
    }

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

}  // namespace

#ifdef _WIN32
// Wide arguments (linked with -municode), handed on as UTF-8.
int wmain(int argc, wchar_t** wideArgv) {
    std::vector<std::string> texts;
    for (int i = 0; i < argc; ++i)
        texts.push_back(utf8Of(wideArgv[i]));
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(&text[0]);
    argv.push_back(nullptr);
    return run(argc, argv.data());
}
#else
int main(int argc, char** argv) {
    return run(argc, argv);
}
#endif
