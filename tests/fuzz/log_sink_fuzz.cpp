// Random lines built from the conversions the library's formats use (%s, %08x, %ld, %u), with literal text
// and arguments of random length, through log_message; the delivered line must be the formatter's output cut
// to 1022 characters, terminated, and its length must be strlen.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>

#include "session/log_sink.h"

namespace {

void require(bool condition, const char *what) {
    if (condition) return;
    std::fprintf(stderr, "log_message: %s\n", what);
    std::abort();
}

struct Delivered {
    int calls = 0;
    int32_t level = 0;
    std::string text;
    uint64_t length = 0;
};
Delivered delivered;

void record(int32_t level, const char *text, uint64_t length) {
    ++delivered.calls;
    delivered.level = level;
    require(std::strlen(text) == length, "length is strlen");
    delivered.text.assign(text, length);
    delivered.length = length;
}

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return size_ ? (--size_, *data_++) : 0; }
    uint32_t u32() {
        return uint32_t(byte()) | uint32_t(byte()) << 8 | uint32_t(byte()) << 16 | uint32_t(byte()) << 24;
    }
    // Printable text without '%', of up to `max` characters.
    std::string text(size_t max) {
        const size_t n = (size_t(byte()) << 8 | byte()) % (max + 1);
        const uint8_t seed = byte();
        std::string out(n, ' ');
        for (size_t i = 0; i < n; ++i) {
            const char c = static_cast<char>(' ' + (seed + i * 7) % 95);
            out[i] = c == '%' ? '#' : c;
        }
        return out;
    }

private:
    const uint8_t *data_;
    size_t size_;
};

using Argument = std::variant<std::string, unsigned, long>;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in(data, size);
    const int32_t level = 1 + in.byte() % 3;
    std::string format = in.text(40);
    Argument args[3];
    for (Argument &arg : args) {
        switch (in.byte() % 4) {
        case 0:
            format += "%s";
            arg = in.text(1500);
            break;
        case 1:
            format += "%08x";
            arg = static_cast<unsigned>(in.u32());
            break;
        case 2:
            format += "%ld";
            arg = static_cast<long>(static_cast<int32_t>(in.u32()));
            break;
        default:
            format += "%u";
            arg = static_cast<unsigned>(in.u32());
            break;
        }
        format += in.text(300);
    }

    delivered = Delivered{};
    std::string expected;
    corvo::set_log_sink(&record);
    std::visit(
        [&](const auto &a, const auto &b, const auto &c) {
            auto pass = [](const auto &v) {
                if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>)
                    return v.c_str();
                else
                    return v;
            };
            const int n = std::snprintf(nullptr, 0, format.c_str(), pass(a), pass(b), pass(c));
            require(n >= 0, "reference formatting");
            expected.resize(size_t(n) + 1);
            std::snprintf(expected.data(), expected.size(), format.c_str(), pass(a), pass(b), pass(c));
            expected.resize(size_t(n));
            corvo::log_message(level, format.c_str(), pass(a), pass(b), pass(c));
        },
        args[0], args[1], args[2]);
    corvo::set_log_sink(nullptr);

    if (expected.empty()) {
        require(delivered.calls == 0, "an empty line is not delivered");
        return 0;
    }
    require(delivered.calls == 1, "one line, one call");
    require(delivered.level == level, "level passed through");
    require(delivered.length <= 1022, "never more than 1022 characters");
    require(delivered.text == expected.substr(0, 1022), "the formatter's output, cut to 1022 characters");
    return 0;
}
