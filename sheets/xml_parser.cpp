// The expat stream parser behind every reader of a workbook part.
#include "sheets/xml_parser.h"

#include "sheets/zip_archive.h"

#include <cstring>
#include <expat.h>

namespace iit::sheets {
namespace {

XML_Parser parserOf(void* p) {
    return static_cast<XML_Parser>(p);
}

} // namespace

std::string_view localName(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

XmlReader::XmlReader() {
    XML_Parser p = XML_ParserCreate("UTF-8");
    m_parser = p;
    if (!p) return;
    XML_SetUserData(p, this);
    XML_SetElementHandler(p, &XmlReader::startElement, &XmlReader::endElement);
    XML_SetStartDoctypeDeclHandler(p, &XmlReader::doctype);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlReader::~XmlReader() {
    if (m_parser) XML_ParserFree(parserOf(m_parser));
}

void XmlReader::startElement(void* self, const char* name, const char** attributes) {
    auto* r = static_cast<XmlReader*>(self);
    if (++r->m_depth > kMaxXmlDepth) {
        r->stopWith(fail(sysText("表格文件已损坏：XML 的嵌套过深")));
        return;
    }
    r->onStart(localName(name), attributes);
}

void XmlReader::endElement(void* self, const char* name) {
    auto* r = static_cast<XmlReader*>(self);
    --r->m_depth;
    r->onEnd(localName(name));
}

void XmlReader::characters(void* self, const char* text, int length) {
    static_cast<XmlReader*>(self)->onText(std::string_view(text, static_cast<std::size_t>(length)));
}

void XmlReader::doctype(void* self, const char*, const char*, const char*, int) {
    static_cast<XmlReader*>(self)->stopWith(
        fail(sysText("表格文件含有文档类型声明（DTD），拒绝读取")));
}

void XmlReader::wantText(bool on) {
    XML_SetCharacterDataHandler(parserOf(m_parser), on ? &XmlReader::characters : nullptr);
}

void XmlReader::stopWith(Problem problem) {
    if (m_done || m_failed) return;
    m_problem = std::move(problem);
    m_failed = true;
    XML_StopParser(parserOf(m_parser), XML_FALSE);
}

void XmlReader::stopHere() {
    if (m_done || m_failed) return;
    m_done = true;
    XML_StopParser(parserOf(m_parser), XML_FALSE);
}

std::optional<std::string_view> XmlReader::attribute(const char** attributes,
                                                     std::string_view name) {
    for (const char** a = attributes; a && a[0]; a += 2)
        if (localName(a[0]) == name) return std::string_view(a[1]);
    return std::nullopt;
}

bool XmlReader::feed(std::string_view chunk, bool last) {
    if (m_done || m_failed) return false;
    if (XML_Parse(parserOf(m_parser), chunk.data(), static_cast<int>(chunk.size()),
                  last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
        m_failed = true;
        return false;
    }
    return !m_done;
}

Outcome<void> XmlReader::outcome(std::string_view part) const {
    if (m_problem) return *m_problem;
    if (m_failed && !m_done) {
        XML_Parser p = parserOf(m_parser);
        const std::string where = std::string(part) + " 第 " +
                                  std::to_string(XML_GetCurrentLineNumber(p)) + " 行：" +
                                  XML_ErrorString(XML_GetErrorCode(p));
        return fail(sysText("表格文件已损坏（XML 格式错误）：") + Text::fromUtf8(where));
    }
    return {};
}

Outcome<void> XmlReader::parse(ZipArchive& zip, std::string_view part) {
    if (!m_parser) return fail(sysText("内存不足"));
    Outcome<void> read = zip.read(part, [&](std::string_view chunk) { return feed(chunk, false); });
    if (!read) return read;
    if (!m_done && !m_failed) feed({}, true);
    return outcome(part);
}

} // namespace iit::sheets
