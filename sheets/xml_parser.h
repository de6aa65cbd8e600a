#pragma once
// The XML of a workbook's parts, parsed by expat as a stream: a reader derives from XmlReader
// and handles elements by their local names (without a namespace prefix). Document type
// declarations are refused, so that no entity can expand (billion laughs), and nesting is
// bounded.

#include "base/outcome.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace iit::sheets {

class ZipArchive;

// No part of a workbook nests deeper than a dozen elements.
constexpr std::size_t kMaxXmlDepth = 64;

class XmlReader {
public:
    XmlReader();
    virtual ~XmlReader();
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    // Parses the zip entry `part` through the handlers.
    Outcome<void> parse(ZipArchive& zip, std::string_view part);

protected:
    virtual void onStart(std::string_view name, const char** attributes) = 0;
    virtual void onEnd(std::string_view name) = 0;
    virtual void onText(std::string_view) {}

    // Asks for onText() calls, which are off at first: only the elements whose text a reader
    // keeps turn them on, so that the whitespace between elements costs nothing.
    void wantText(bool on);
    // Stops parsing with a problem.
    void stopWith(Problem problem);
    // Stops parsing: the rest of the document is not needed.
    void stopHere();
    std::size_t depth() const { return m_depth; }

    // The value of the attribute of that local name, or nullopt.
    static std::optional<std::string_view> attribute(const char** attributes,
                                                     std::string_view name);

private:
    bool feed(std::string_view chunk, bool last);
    Outcome<void> outcome(std::string_view part) const;
    static void startElement(void* self, const char* name, const char** attributes);
    static void endElement(void* self, const char* name);
    static void characters(void* self, const char* text, int length);
    static void doctype(void* self, const char*, const char*, const char*, int);

    void* m_parser = nullptr;
    std::size_t m_depth = 0;
    std::optional<Problem> m_problem;
    bool m_done = false;
    bool m_failed = false;
};

// The name without its namespace prefix.
std::string_view localName(std::string_view name);

} // namespace iit::sheets
