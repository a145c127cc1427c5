// Fuzzes the matching and scanning of the command line: the input is split at NUL bytes into
// arguments. Nothing may read or write out of bounds, and an accepted command line must give
// flags of 0 or 1.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1, "corvantel");
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    words.push_back(word);
    // Each argument in a heap block of its own size, so that reading past its end is caught.
    std::vector<char*> arguments;
    for (const std::string& text : words) {
        char* copy = static_cast<char*>(malloc(text.size() + 1));
        memcpy(copy, text.c_str(), text.size() + 1);
        arguments.push_back(copy);
    }
    Options options = {0, 0, 0, 0};
    DWORD pattern[2] = {0, 0xFFFFFFFFu};
    const int rejected = match_arguments(static_cast<int>(arguments.size()), arguments.data(),
                                         false, &options, pattern);
    if (rejected < 0 || rejected >= static_cast<int>(arguments.size()) ||
        (rejected == 0 &&
         (options.no_read > 1 || options.no_write > 1 || options.ignore_ep0_errors > 1))) {
        abort();
    }
    for (char* copy : arguments) {
        free(copy);
    }
    return 0;
}
