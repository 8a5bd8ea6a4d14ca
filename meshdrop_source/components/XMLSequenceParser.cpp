#include "XMLSequenceParser.h"

namespace {

constexpr std::string_view kCDataOpen = "<![CDATA[";
constexpr std::string_view kCDataClose = "]]>";

} // namespace

CXMLSequenceParser::CXMLSequenceParser(std::string_view text, CXMLDocument& document)
    : m_text(text), m_document(document), m_endTags(text)
{}

std::unique_ptr<CXMLElement> CXMLSequenceParser::ParseDocument(size_t begin)
{
    return ParseSequence(begin, m_text.size(), nullptr, 0);
}

std::unique_ptr<CXMLElement> CXMLSequenceParser::ParseSequence(size_t cursor, size_t end, CXMLElement* parent,
                                                               int depth)
{
    std::unique_ptr<CXMLElement> kept; // owns the result while it is not a child of the parent
    CXMLElement* result = nullptr;

    for (;;) {
        const std::string_view window = m_text.substr(0, end);
        const size_t lt = window.find('<', cursor);
        if (lt == std::string_view::npos) {
            if (parent != nullptr && cursor < end)
                parent->AddText(window.substr(cursor));
            break;
        }
        if (parent != nullptr)
            parent->AddText(window.substr(cursor, lt - cursor));

        const std::string_view construct = window.substr(lt);
        const bool isCData = construct.starts_with(kCDataOpen);
        size_t close = std::string_view::npos; // the construct's ">"
        if (isCData) {
            const size_t at = construct.find(kCDataClose, kCDataOpen.size());
            if (at != std::string_view::npos)
                close = lt + at + kCDataClose.size() - 1;
        } else {
            close = window.find('>', lt + 1);
        }
        if (close == std::string_view::npos)
            break;

        if (construct.starts_with("<!--") || construct.starts_with("<?")) {
            AddComment(parent, lt + 4, close - 2); // close >= lt + 2 here
        } else if (isCData) {
            if (parent != nullptr)
                parent->AddCData(m_text.substr(lt + kCDataOpen.size(), close - 2 - lt - kCDataOpen.size()));
        } else if (construct[1] == '/') {
            if (parent != nullptr && kept && result == kept.get())
                parent->AddChild(std::move(kept));
        } else if (m_text[close - 1] == '/' && close - 1 > lt) {
            m_seenTopLevelStartTag = m_seenTopLevelStartTag || parent == nullptr;
            std::unique_ptr<CXMLElement> element = CreateElement(lt, close, parent);
            const bool first = result == nullptr;
            if (first)
                result = element.get();
            if (parent != nullptr)
                parent->AddChild(std::move(element));
            else if (first)
                kept = std::move(element);
        } else {
            m_seenTopLevelStartTag = m_seenTopLevelStartTag || parent == nullptr;
            const auto match = m_endTags.Find(lt, end);
            if (!match) {
                m_document.errorFlag = CXMLDocument::kNoMatchingEndTag;
                break;
            }
            std::unique_ptr<CXMLElement> element = CreateElement(lt, close, parent);
            if (close + 1 < match->endTagBegin) {
                if (depth + 1 > kMaxDepth)
                    m_document.errorFlag = CXMLDocument::kTooDeep;
                else
                    ParseSequence(close + 1, match->endTagBegin, element.get(), depth + 1);
            }
            // An element with content joins the parent at its end tag; a
            // later one replaces it (and a first empty one) as the result.
            kept = std::move(element);
            result = kept.get();
            cursor = match->endTagBegin; // the end tag is the next construct
            continue;
        }
        cursor = close + 1;
    }
    if (parent == nullptr && kept && result == kept.get())
        return kept;
    return nullptr;
}

std::unique_ptr<CXMLElement> CXMLSequenceParser::CreateElement(size_t tagBegin, size_t tagEnd,
                                                               CXMLElement* parent) const
{
    // Inside a tag only spaces and tabs separate the name and the attributes.
    const std::string_view tag = m_text.substr(0, tagEnd + 1);
    size_t i = tagBegin + 1;
    const size_t nameEnd = tag.find_first_of(" \t/>\"", i);
    auto element = std::make_unique<CXMLElement>(tag.substr(i, nameEnd - i), parent);

    for (i = nameEnd;;) {
        i = tag.find_first_not_of(" \t", i);
        if (i == std::string_view::npos || tag[i] == '>' || tag[i] == '/')
            break;
        const size_t equals = tag.find('=', i);
        if (equals == std::string_view::npos)
            break;
        size_t valueBegin = equals + 1;
        if (tag[valueBegin] == '"')
            ++valueBegin;
        const size_t valueEnd = tag.find('"', valueBegin);
        if (valueEnd == std::string_view::npos)
            break;
        element->AddAttribute(tag.substr(i, equals - i), tag.substr(valueBegin, valueEnd - valueBegin));
        i = valueEnd + 1;
    }
    return element;
}

void CXMLSequenceParser::AddComment(CXMLElement* parent, size_t begin, size_t end)
{
    const std::string_view text = begin < end ? m_text.substr(begin, end - begin) : std::string_view();
    if (parent != nullptr) {
        parent->AddComment(text);
        return;
    }
    auto node = std::make_unique<CXMLNode>();
    node->text = std::string(text);
    node->position = m_seenTopLevelStartTag ? 1 : 0;
    m_document.declaration.nodes.push_back(std::move(node));
}
