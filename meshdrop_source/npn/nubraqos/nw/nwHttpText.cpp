#include "nw/nwHttpText.h"

#include <cstring>

namespace {

char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool nwEqualsNoCase(const char* a, const char* b)
{
    if (!a || !b) {
        return false;
    }
    for (; *a && *b; ++a, ++b) {
        if (FoldCase(*a) != FoldCase(*b)) {
            return false;
        }
    }
    return *a == *b;
}

bool nwStartsWith(const char* text, const char* prefix, bool ignoreCase)
{
    if (!text || !prefix) {
        return false;
    }
    for (; *prefix; ++text, ++prefix) {
        if (!*text) {
            return false;
        }
        if (ignoreCase ? FoldCase(*text) != FoldCase(*prefix) : *text != *prefix) {
            return false;
        }
    }
    return true;
}

std::int64_t nwParseLeadingDecimal(const char* text, std::uint32_t length, std::int64_t limit)
{
    if (!text || length == 0 || text[0] < '0' || text[0] > '9') {
        return -1;
    }
    std::int64_t value = 0;
    for (std::uint32_t i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (limit - digit) / 10) {
            return -1;
        }
        value = value * 10 + digit;
    }
    return value;
}

void nwSetFieldByPrefix(nwHttpFieldList& list, const char* name, const char* value)
{
    for (nwHttpField& field : list) {
        if (nwStartsWith(field.name.GetString(), name, false)) {
            field.value = value;
            return;
        }
    }
    list.push_back({ovCString(name), ovCString(value)});
}

bool nwHasLineBreak(const char* text)
{
    return text && std::strpbrk(text, "\r\n") != nullptr;
}
