// What a fuzz target asserts about a reader's result: a broken promise prints its
// reason and aborts, which libFuzzer records as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Require(bool holds, const char* promise)
{
    if (holds) return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

// A refusal as the console shows it: of bounded length, whatever the token, and
// with no control byte that could reach the terminal raw.
inline void Require_shown_safely(const std::string& refusal)
{
    Require(refusal.size() < 400, "a refusal stays short, whatever the token's length");
    for (const char c : refusal) {
        const unsigned char u = static_cast<unsigned char>(c);
        Require(u >= 0x20 && u != 0x7F, "a refusal shows no control byte raw");
    }
}
