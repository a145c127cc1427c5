// The stand-in keyboard's decoding of terminal bytes into the Windows console's key codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portable/key_decoder.h"

namespace {

// Decodes a whole burst as the keyboard does: keys as long as bytes are left, and for a
// sequence begun but not finished, the verdict once no more bytes are coming.
std::vector<int> decode_all(const std::string& text) {
    std::vector<int> codes;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t left = text.size();
    while (left > 0) {
        int key[2] = {-1, -1};
        int count = 0;
        size_t used = standin::decode_key(bytes, left, false, key, &count);
        if (used == 0) {
            used = standin::decode_key(bytes, left, true, key, &count);
        }
        EXPECT_GT(used, 0u);
        if (used == 0) {
            break;
        }
        codes.insert(codes.end(), key, key + count);
        bytes += used;
        left -= used;
    }
    return codes;
}

struct KeyCase {
    const char* name;
    std::string bytes;
    std::vector<int> codes;
};

TEST(KeyDecoder, TerminalKeysReadAsTheWindowsKeyboardCodes) {
    const KeyCase cases[] = {
        {"letter", "a", {'a'}},
        {"Enter", "\r", {13}},
        {"Backspace as DEL", "\x7f", {8}},
        {"lone ESC", "\x1b", {27}},
        {"ESC twice", "\x1b\x1b", {27, 27}},
        {"Up", "\x1b[A", {224, 72}},
        {"Down", "\x1b[B", {224, 80}},
        {"Right", "\x1b[C", {224, 77}},
        {"Left", "\x1b[D", {224, 75}},
        {"Home CSI H", "\x1b[H", {224, 71}},
        {"End CSI F", "\x1b[F", {224, 79}},
        {"Up SS3", "\x1bOA", {224, 72}},
        {"Home SS3", "\x1bOH", {224, 71}},
        {"End SS3", "\x1bOF", {224, 79}},
        {"Home 1~", "\x1b[1~", {224, 71}},
        {"Insert", "\x1b[2~", {224, 82}},
        {"Delete", "\x1b[3~", {224, 83}},
        {"End 4~", "\x1b[4~", {224, 79}},
        {"Page Up", "\x1b[5~", {224, 73}},
        {"Page Down", "\x1b[6~", {224, 81}},
        {"Home rxvt 7~", "\x1b[7~", {224, 71}},
        {"End rxvt 8~", "\x1b[8~", {224, 79}},
        {"F1 SS3", "\x1bOP", {0, 59}},
        {"F2 SS3", "\x1bOQ", {0, 60}},
        {"F3 SS3", "\x1bOR", {0, 61}},
        {"F4 SS3", "\x1bOS", {0, 62}},
        {"F1 11~", "\x1b[11~", {0, 59}},
        {"F5", "\x1b[15~", {0, 63}},
        {"F6", "\x1b[17~", {0, 64}},
        {"F7", "\x1b[18~", {0, 65}},
        {"F8", "\x1b[19~", {0, 66}},
        {"F9", "\x1b[20~", {0, 67}},
        {"F10", "\x1b[21~", {0, 68}},
        {"F11", "\x1b[23~", {224, 133}},
        {"F12", "\x1b[24~", {224, 134}},
        {"Linux console F1", "\x1b[[A", {0, 59}},
        {"Linux console F5", "\x1b[[E", {0, 63}},
        {"Ctrl+Up", "\x1b[1;5A", {224, 72}},
        {"Shift+F1 CSI P", "\x1b[1;2P", {0, 59}},
        {"Ctrl+Delete", "\x1b[3;5~", {224, 83}},
        {"Alt+Shift+F12", "\x1b[24;4~", {224, 134}},
        {"modifier in SS3", "\x1bO5C", {224, 77}},
        {"Alt+x", "\x1bx", {'x'}},
        {"arrow between letters", "a\x1b[Bb", {'a', 224, 80, 'b'}},
        {"two arrows in one burst", "\x1b[A\x1b[D", {224, 72, 224, 75}},
        {"ESC after an arrow", "\x1b[C\x1b", {224, 77, 27}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode_all(c.bytes), c.codes);
    }
}

TEST(KeyDecoder, UnknownOrCutSequencesAreSwallowedWholeNeverAsEsc) {
    const KeyCase cases[] = {
        {"unknown CSI final", "\x1b[5E", {}},
        {"unknown tilde number", "\x1b[99~", {}},
        {"bracketed paste start", "\x1b[200~", {}},
        {"focus in", "\x1b[I", {}},
        {"cursor report shape", "\x1b[12;40t", {}},
        {"unknown SS3", "\x1bOz", {}},
        {"cut after CSI", "\x1b[", {}},
        {"cut inside parameters", "\x1b[1;5", {}},
        {"cut after SS3", "\x1bO", {}},
        {"cut Linux console key", "\x1b[[", {}},
        {"unknown then a letter", "\x1b[99~q", {'q'}},
        {"control byte ends a broken sequence", "\x1b[1\r", {13}},
        {"too long",
         "\x1b[" + std::string(40, '1') + "~z",
         {'1', '1', '1', '1', '1', '1', '1', '1', '1', '1', '~', 'z'}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> codes = decode_all(c.bytes);
        EXPECT_EQ(codes, c.codes);
        for (int code : codes) {
            EXPECT_NE(code, 27);
        }
    }
}

TEST(KeyDecoder, WaitsForTheRestOfASequenceUntilToldNoMoreIsComing) {
    const char* starts[] = {"\x1b", "\x1b[", "\x1bO", "\x1b[1", "\x1b[1;", "\x1b[[", "\x1b[24"};
    for (const char* start : starts) {
        SCOPED_TRACE(testing::PrintToString(std::string(start)));
        const std::string text(start);
        int codes[2];
        int count = -1;
        EXPECT_EQ(standin::decode_key(reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), false, codes, &count),
                  0u);
        EXPECT_EQ(count, 0);
    }
}

}  // namespace
