// Fuzzes the emulated device's scenario parser: any text must be read or refused with a
// message, never read or written out of bounds; a refused text leaves the result untouched.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "emulator/emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap block of exactly the text and its terminator, so reading past it is caught.
    char* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';
    emulator::Scenario scenario;
    scenario.devices = 12345;
    std::string error;
    const int result = emulator::parse_scenario(text, &scenario, &error);
    if (result != 0 && (error.empty() || scenario.devices != 12345)) {
        abort();
    }
    if (result != 0 && result != 1) {
        abort();
    }
    free(text);
    return 0;
}
