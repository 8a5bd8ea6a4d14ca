#pragma once
// The XML reader's escaping rules. Element names are stored escaped and
// unescaped when read; attribute values are stored as written and unescaped
// when read.

#include <string>
#include <string_view>

// "&" not followed by "#" becomes "&amp;"; ">", "<", the double and the single
// quote become "&gt;", "&lt;", "&quot;" and "&apos;"; everything else is copied.
std::string EscapeXmlName(std::string_view text);

// "&amp;", "&quot;", "&apos;", "&lt;" and "&gt;" (lower case) become their
// characters. "&#" decimal digits ";" and "&#x" (or "&#X") hexadecimal digits
// ";" become the UTF-8 form of that code point; a reference to no character
// (0, a surrogate, above U+10FFFF) is dropped. Any other "&" is copied.
std::string UnescapeXml(std::string_view text);
