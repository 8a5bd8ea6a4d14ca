#include "HostileXml.h"

namespace testsupport {

std::string DeeplyNestedXml(int levels, bool closed)
{
    std::string text = "<?xml?>";
    for (int i = 0; i < levels; ++i)
        text += "<a>";
    for (int i = 0; closed && i < levels; ++i)
        text += "</a>";
    return text;
}

std::vector<std::string> LongSearchXmlDocuments(int nesting)
{
    const size_t size = 1 << 20;
    auto repeat = [&](const std::string& head, const std::string& unit, const std::string& tail) {
        std::string text = head;
        while (text.size() < size)
            text += unit;
        return text + tail;
    };
    std::string open, close;
    for (int i = 0; i < nesting; ++i) {
        open += "<n>";
        close += "</n>";
    }
    return {
        repeat(open, "<b/>", close),      repeat(open, "<q x=\">", close), repeat("<r>", "<a x=\"><a x=\">", "</r>"),
        repeat("<r>", "<a><!--", "</r>"), repeat("<r>", "<a/", "</r>"),    repeat("<r>", "<a>", ""),
    };
}

} // namespace testsupport
