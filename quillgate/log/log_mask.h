// Passwords never reach a log or trace line: the line keeps its text and
// each password in it is written as "***". The SDK still gets the real ones.
#ifndef QG_LOG_LOG_MASK_H
#define QG_LOG_LOG_MASK_H

#include <stdint.h>
#include <string>

// What a log line shows in place of a password.
extern const char kMaskedPassword[];

// A parameter text as a log line may show it: a JSON object whose members
// (at any depth) named like a password ("pass" or "pwd" in any case) hold a
// value comes back as compact JSON text with those values "***"; any other
// text comes back unchanged.
std::string MaskPasswordMembers(const std::string& text);

// A gateway's text as a log line of this level shows it: masked as above
// when the line is written; empty, and not parsed, when it is dropped.
std::string LoggedText(uint32_t level, const std::string& text);

#endif
