#pragma once
// Characters a text taken from outside (a file, a record, an operator's entry) must not carry
// onto a terminal, a table or a certificate: control characters, which a terminal acts on,
// and the invisible formatting ones, among them those that turn the direction of the text
// ("TT", U+202E, "401-TT" shows as "TTTT-104"). Plain C++ (UTF-8), so that the serial drivers' port
// mapping and the programs name such a character alike.

#include <cstddef>
#include <string>
#include <string_view>

// A control character (C0 but the tab, DEL, C1), a line or paragraph separator, or an
// invisible formatting character (direction marks and overrides, zero-width ones, the byte
// order mark, soft hyphen, tags).
bool IsUnsafeCodePoint(char32_t c);

// "U+202E (znak pro směr textu)", "U+001B (řídicí znak)": the character named for the operator.
std::string UnsafeCodePointText(char32_t c);

// The first unsafe character or invalid UTF-8 in `text`: false when there is none, else true
// with `what` saying which ("U+0000 (řídicí znak)", "neplatný bajt 0xFF (není UTF-8)").
// A tab is allowed when `tabs` is true.
bool FindUnsafeText(std::string_view text, std::string& what, bool tabs = true);

// "<label> obsahuje nedovolený znak U+202E (znak pro směr textu)." for the first unsafe
// character (or invalid UTF-8) of `text`, tabs included; empty when there is none.
std::string UnsafeTextProblem(std::string_view label, std::string_view text);

// `text` as a message may show it: unsafe characters and invalid bytes written as \xHH or
// \u{HHHH}, and cut after `most` characters with "…".
std::string ShownText(std::string_view text, std::size_t most = 80);
