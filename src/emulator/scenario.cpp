// The scenario string: `key=value` items separated by ';', read into a Scenario without any
// side effect, so that it can be fed arbitrary text.
#include <string.h>

#include <string>

#include "emulator/emulator.h"

namespace emulator {

namespace {

struct Text {
    const char* begin;
    const char* end;
    bool empty() const { return begin == end; }
    std::string str() const { return std::string(begin, end); }
    bool is(const char* word) const {
        const size_t length = strlen(word);
        return static_cast<size_t>(end - begin) == length && memcmp(begin, word, length) == 0;
    }
};

Text trim(Text text) {
    while (!text.empty() && (*text.begin == ' ' || *text.begin == '\t')) {
        ++text.begin;
    }
    while (!text.empty() && (text.end[-1] == ' ' || text.end[-1] == '\t')) {
        --text.end;
    }
    return text;
}

// Splits at the first `separator`: the part before goes to *head, the rest (after it) stays.
bool split(Text* rest, char separator, Text* head) {
    const char* at =
        static_cast<const char*>(memchr(rest->begin, separator, rest->end - rest->begin));
    if (at == nullptr) {
        *head = *rest;
        rest->begin = rest->end;
        return false;
    }
    *head = Text{rest->begin, at};
    rest->begin = at + 1;
    return true;
}

// Decimal or 0x/0X-hexadecimal, nothing else, at most `most`.
bool read_number(Text text, uint64_t most, uint64_t* value) {
    if (text.empty()) {
        return false;
    }
    unsigned base = 10;
    if (text.end - text.begin > 2 && text.begin[0] == '0' &&
        (text.begin[1] == 'x' || text.begin[1] == 'X')) {
        base = 16;
        text.begin += 2;
    }
    uint64_t result = 0;
    for (const char* c = text.begin; c != text.end; ++c) {
        unsigned digit;
        if (*c >= '0' && *c <= '9') {
            digit = static_cast<unsigned>(*c - '0');
        } else if (base == 16 && *c >= 'a' && *c <= 'f') {
            digit = static_cast<unsigned>(*c - 'a' + 10);
        } else if (base == 16 && *c >= 'A' && *c <= 'F') {
            digit = static_cast<unsigned>(*c - 'A' + 10);
        } else {
            return false;
        }
        if (result > (most - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    *value = result;
    return true;
}

bool read_u32(Text text, uint32_t* value) {
    uint64_t wide;
    if (!read_number(text, 0xFFFFFFFFu, &wide)) {
        return false;
    }
    *value = static_cast<uint32_t>(wide);
    return true;
}

bool read_unsigned(Text text, unsigned* value) {
    uint32_t narrow;
    if (!read_u32(text, &narrow)) {
        return false;
    }
    *value = narrow;
    return true;
}

bool read_flag(Text text, bool* value) {
    if (text.is("0") || text.is("1")) {
        *value = text.is("1");
        return true;
    }
    return false;
}

// K or K+, K from 1; or a rising list K1,K2,...,Kn with an optional + behind Kn.
bool read_nth(Text text, Nth* nth) {
    Nth result;
    if (!text.empty() && text.end[-1] == '+') {
        result.and_later = true;
        --text.end;
    }
    Text item;
    bool more = split(&text, ',', &item);
    if (!read_unsigned(item, &result.k) || result.k == 0) {
        return false;
    }
    unsigned last = result.k;
    while (more) {
        more = split(&text, ',', &item);
        unsigned next;
        if (result.more_count + 1 == Nth::most_nth_items || !read_unsigned(item, &next) ||
            next <= last) {
            return false;
        }
        result.more[result.more_count++] = next;
        last = next;
    }
    *nth = result;
    return true;
}

// K[:CODE[:at_once]]
bool read_fail(Text text, FailRule* rule) {
    FailRule result;
    Text part;
    const bool more = split(&text, ':', &part);
    if (!read_nth(part, &result.nth)) {
        return false;
    }
    if (more) {
        const bool third = split(&text, ':', &part);
        if (!read_u32(part, &result.code)) {
            return false;
        }
        if (third) {
            if (!text.is("at_once")) {
                return false;
            }
            result.at_once = true;
        }
    }
    *rule = result;
    return true;
}

// K:BYTES
bool read_short(Text text, ShortRule* rule) {
    ShortRule result;
    Text part;
    if (!split(&text, ':', &part) || !read_nth(part, &result.nth) ||
        !read_u32(text, &result.bytes)) {
        return false;
    }
    *rule = result;
    return true;
}

// START[:STEP], 64-bit.
bool read_counts(Text text, CountRule* rule) {
    CountRule result;
    Text part;
    const bool more = split(&text, ':', &part);
    if (!read_number(part, UINT64_MAX, &result.start)) {
        return false;
    }
    if (more && !read_number(text, UINT64_MAX, &result.step)) {
        return false;
    }
    *rule = result;
    return true;
}

// Reads one value into the field of `key`; -1 for an unknown key, 0 for a bad value, 1 done.
int read_item(Text key, Text value, Scenario* s) {
    if (key.is("devices")) {
        return read_unsigned(value, &s->devices);
    }
    if (key.is("locked")) {
        s->has_locked = true;
        return read_unsigned(value, &s->locked);
    }
    if (key.is("read_mbps")) {
        return read_unsigned(value, &s->read_mbps);
    }
    if (key.is("write_mbps")) {
        return read_unsigned(value, &s->write_mbps);
    }
    if (key.is("at_once")) {
        return read_flag(value, &s->at_once);
    }
    if (key.is("read_fail")) {
        return read_fail(value, &s->read_fail);
    }
    if (key.is("write_fail")) {
        return read_fail(value, &s->write_fail);
    }
    if (key.is("ep0_fail")) {
        return read_fail(value, &s->ep0_fail);
    }
    if (key.is("read_hang")) {
        return read_nth(value, &s->read_hang);
    }
    if (key.is("write_hang")) {
        return read_nth(value, &s->write_hang);
    }
    if (key.is("ep0_hang")) {
        return read_nth(value, &s->ep0_hang);
    }
    if (key.is("read_short")) {
        return read_short(value, &s->read_short);
    }
    if (key.is("write_short")) {
        return read_short(value, &s->write_short);
    }
    if (key.is("ep0_bytes")) {
        return read_u32(value, &s->ep0_bytes);
    }
    if (key.is("ep0_us")) {
        return read_u32(value, &s->ep0_us);
    }
    if (key.is("phy")) {
        return read_counts(value, &s->phy);
    }
    if (key.is("lnk")) {
        return read_counts(value, &s->lnk);
    }
    if (key.is("no_cancelioex")) {
        return read_flag(value, &s->no_cancelioex);
    }
    if (key.is("tick_start")) {
        s->has_tick_start = true;
        return read_u32(value, &s->tick_start);
    }
    if (key.is("trace")) {
        s->trace = value.str();
        return !value.empty();
    }
    if (key.is("stats")) {
        s->stats = value.str();
        return !value.empty();
    }
    if (key.is("inline_complete")) {
        return read_flag(value, &s->inline_complete);
    }
    if (key.is("event_fail")) {
        return read_unsigned(value, &s->event_fail);
    }
    if (key.is("thread_fail")) {
        return read_unsigned(value, &s->thread_fail);
    }
    if (key.is("alloc_fail")) {
        return read_unsigned(value, &s->alloc_fail);
    }
    return -1;
}

}  // namespace

int parse_scenario(const char* text, Scenario* out, std::string* error) {
    Scenario scenario;
    if (text != nullptr) {
        Text rest{text, text + strlen(text)};
        while (!rest.empty()) {
            Text item;
            split(&rest, ';', &item);
            item = trim(item);
            if (item.empty()) {
                continue;
            }
            Text key;
            const bool has_value = split(&item, '=', &key);
            key = trim(key);
            const Text value = trim(item);
            const int read = has_value ? read_item(key, value, &scenario) : -1;
            if (read != 1) {
                if (error != nullptr) {
                    if (read < 0 && !has_value) {
                        *error = "scenario item '" + key.str() + "' has no '=value'";
                    } else if (read < 0) {
                        *error = "unknown scenario key '" + key.str() + "'";
                    } else {
                        *error =
                            "bad value '" + value.str() + "' for scenario key '" + key.str() + "'";
                    }
                }
                return 1;
            }
        }
    }
    *out = scenario;
    return 0;
}

}  // namespace emulator
