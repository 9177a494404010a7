#pragma once

#include <memory>
#include <string>

namespace pugi {
struct xml_node_struct;
}

namespace vek::dataset {

// A handle to an element of a TXMLGenerator's document; empty when nothing was found.
struct XmlElement
{
    pugi::xml_node_struct* node = nullptr;
    [[nodiscard]] bool empty() const { return node == nullptr; }
};

// A minimal XML writer: a document with one root element and a current
// element under which new elements go when no parent path is given.
class TXMLGenerator
{
public:
    explicit TXMLGenerator(const std::string& rootName);
    ~TXMLGenerator();
    TXMLGenerator(const TXMLGenerator&) = delete;
    TXMLGenerator& operator=(const TXMLGenerator&) = delete;

    // Appends an element holding text under the node that parentPath selects
    // from the root (XPath, single node; nothing is appended when none
    // matches), or under the current element when parentPath is empty. The
    // current element does not change.
    void AddTextElement(const std::string& name, const std::string& text, const std::string& parentPath = {});
    // The same without text; unless keepCurrent, the new element becomes current.
    XmlElement AddElement(const std::string& name, bool keepCurrent, const std::string& parentPath = {});
    [[nodiscard]] XmlElement FindNode(const std::string& path) const;
    void SetCurrentElement(XmlElement element);
    [[nodiscard]] XmlElement Root() const;

    // The document as UTF-8 text: no declaration, no whitespace between elements.
    [[nodiscard]] std::string toString() const;
    // Throws vek::Error when the file cannot be written.
    void Save(const std::string& fileName) const;

private:
    XmlElement append(const std::string& name, const std::string& parentPath);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vek::dataset
