#include "dataset/TXMLGenerator.h"

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/SystemText.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace vek::dataset {

namespace {

// XML 1.0 holds only tab, line feed, carriage return and the characters from
// U+0020 on, less the surrogates and U+FFFE/U+FFFF. Anything else would be
// written as a character reference that every conforming parser rejects,
// making the whole document unreadable; such a character becomes "?". Bytes
// that do not form UTF-8 are left out by the decoder.
std::string xmlText(const std::string& text)
{
    const auto allowed = [](wchar_t c) {
        const auto u = static_cast<std::uint32_t>(c);
        return u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF) || (u >= 0xE000 && u <= 0xFFFD) ||
               (u >= 0x10000 && u <= 0x10FFFF);
    };
    bool plain = true;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 || (b < 0x20 && b != 0x9 && b != 0xA && b != 0xD)) {
            plain = false;
            break;
        }
    }
    if (plain) {
        return text;
    }
    std::wstring wide = pugi::as_wide(text);
    for (wchar_t& c : wide) {
        if (!allowed(c)) {
            c = L'?';
        }
    }
    return pugi::as_utf8(wide);
}

}  // namespace

struct TXMLGenerator::Impl
{
    pugi::xml_document document;
    pugi::xml_node root;
    pugi::xml_node current;
};

TXMLGenerator::TXMLGenerator(const std::string& rootName)
    : impl_(std::make_unique<Impl>())
{
    impl_->root = impl_->document.append_child(rootName.c_str());
    impl_->current = impl_->root;
}

TXMLGenerator::~TXMLGenerator() = default;

XmlElement TXMLGenerator::append(const std::string& name, const std::string& parentPath)
{
    pugi::xml_node parent = impl_->current;
    if (!parentPath.empty()) {
        try {
            parent = impl_->root.select_node(parentPath.c_str()).node();
        } catch (const pugi::xpath_exception&) {
            parent = pugi::xml_node();
        }
        if (!parent) {
            return {};
        }
    }
    return XmlElement{parent.append_child(name.c_str()).internal_object()};
}

void TXMLGenerator::AddTextElement(const std::string& name, const std::string& text, const std::string& parentPath)
{
    const XmlElement e = append(name, parentPath);
    if (!e.empty()) {
        pugi::xml_node(e.node).text().set(xmlText(text).c_str());
    }
}

XmlElement TXMLGenerator::AddElement(const std::string& name, bool keepCurrent, const std::string& parentPath)
{
    const XmlElement e = append(name, parentPath);
    if (!keepCurrent && !e.empty()) {
        impl_->current = pugi::xml_node(e.node);
    }
    return e;
}

XmlElement TXMLGenerator::FindNode(const std::string& path) const
{
    try {
        return XmlElement{impl_->root.select_node(path.c_str()).node().internal_object()};
    } catch (const pugi::xpath_exception&) {
        return {};
    }
}

void TXMLGenerator::SetCurrentElement(XmlElement element)
{
    if (!element.empty()) {
        impl_->current = pugi::xml_node(element.node);
    }
}

XmlElement TXMLGenerator::Root() const
{
    return XmlElement{impl_->root.internal_object()};
}

std::string TXMLGenerator::toString() const
{
    std::ostringstream out;
    impl_->document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return out.str();
}

void TXMLGenerator::Save(const std::string& fileName) const
{
    const std::string text = toString();
    platform::StdioFile f;
    if (!f.open(fileName, "wb")) {
        const int err = errno;
        throw Error("Não foi possível criar " + fileName + ": " + vek::platform::systemText(err), err);
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
    int err = errno;
    const bool closed = f.close();
    if (written && !closed) {
        err = errno;
    }
    if (!written || !closed) {
        throw Error("Não foi possível gravar " + fileName + ": " + vek::platform::systemText(err), err);
    }
}

}  // namespace vek::dataset
