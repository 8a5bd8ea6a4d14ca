#pragma once
#include <string>
#include <vector>

namespace testsupport {

// `levels` nested elements "<a>", closed again when `closed`.
std::string DeeplyNestedXml(int levels, bool closed);

// Documents of about 1 MiB built to make the XML reader's end-tag searches
// long: flat runs inside `nesting` levels, quotes that hide tags from one
// kind of scan but not the other, unclosed comments, tags without ends.
std::vector<std::string> LongSearchXmlDocuments(int nesting);

} // namespace testsupport
