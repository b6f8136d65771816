// wincmd's command-line splitter: words at blanks outside double quotes, ">"
// and ">>" outside quotes as redirections.
#include <cstdint>
#include <string>

#include "shell/shell.h"

#define CHECK(condition)                     \
    do {                                     \
        if (!(condition)) __builtin_trap();  \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Token> tokens = Tokenize(text);
    bool has_quote = text.find('"') != std::string::npos;
    size_t word_bytes = 0;
    size_t redirections = 0;
    for (const Token& token : tokens) {
        CHECK(token.Text.find('"') == std::string::npos);  // quotes never reach a word
        if (token.IsRedirection) {
            CHECK(token.Text.empty());
            ++redirections;
            continue;
        }
        CHECK(!token.Appends);
        word_bytes += token.Text.size();
        if (!has_quote) {
            CHECK(!token.Text.empty());
            CHECK(token.Text.find_first_of(" \t>") == std::string::npos);
        }
    }
    CHECK(word_bytes + redirections <= text.size());
    if (!has_quote) {
        size_t operators = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '>') continue;
            ++operators;
            if (i + 1 < text.size() && text[i + 1] == '>') ++i;
        }
        CHECK(operators == redirections);
    }
    return 0;
}
