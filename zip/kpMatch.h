// Wildcard matching for exclusion and no-compression lists, list expansion and selection.
#pragma once

#include <string>
#include <string_view>

namespace zip {

// '*' any run, '?' one character, '<...>' one character of a set ('!' or '^' negates,
// 'x-y' ranges). Case-insensitive.
bool WildcardMatch(std::string_view pattern, std::string_view text);

// True when the text holds one of '*', '?', '<', '>', '|'.
bool IsWildcard(std::string_view text);

// Lower case for ASCII and the Cyrillic letters of the ANSI code page.
std::string ZipLowerCase(std::string_view text);

}  // namespace zip
