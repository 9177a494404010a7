#include "dataset/DataPacket.h"

#include "platform/Error.h"
#include "platform/Win1252.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <expat.h>
#include <fstream>
#include <map>
#include <memory>

namespace vek::dataset {
namespace {

enum class Encoding
{
    Utf8,
    Latin1,
    Win1252,
    Undeclared,  // no declaration names one: UTF-8 when valid, else Windows-1252
};

std::string quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
std::size_t utf8SequenceAt(std::string_view s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const auto cont = [&](std::size_t k) { return i + k < s.size() && (b(k) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80) {
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        return cont(1) ? 2 : 0;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2) || (c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) > 0x9F)) {
            return 0;
        }
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3) || (c == 0xF0 && b(1) < 0x90) || (c == 0xF4 && b(1) > 0x8F)) {
            return 0;
        }
        return 4;
    }
    return 0;
}

bool validUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SequenceAt(s, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

// The encoding the document declares (a byte-order mark declares UTF-8).
Encoding declaredEncoding(std::string_view doc, const std::string& source)
{
    if (doc.starts_with("\xEF\xBB\xBF")) {
        return Encoding::Utf8;
    }
    if (doc.starts_with("\xFE\xFF") || doc.starts_with("\xFF\xFE") || doc.substr(0, 4).find('\0') != doc.npos) {
        throw Error("O arquivo " + quoted(source) + " usa uma codificação UTF-16 ou UTF-32, que não é aceita.");
    }
    if (!doc.starts_with("<?xml")) {
        return Encoding::Undeclared;
    }
    const std::string_view decl = doc.substr(0, doc.find("?>"));
    auto at = decl.find("encoding");
    if (at == decl.npos) {
        return Encoding::Undeclared;
    }
    at += 8;
    while (at < decl.size() && (decl[at] == ' ' || decl[at] == '\t' || decl[at] == '\r' || decl[at] == '\n')) {
        ++at;
    }
    if (at >= decl.size() || decl[at] != '=') {
        return Encoding::Utf8;
    }
    ++at;
    while (at < decl.size() && (decl[at] == ' ' || decl[at] == '\t' || decl[at] == '\r' || decl[at] == '\n')) {
        ++at;
    }
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) {
        return Encoding::Utf8;
    }
    const char quote = decl[at++];
    const auto end = decl.find(quote, at);
    const std::string name(decl.substr(at, end == decl.npos ? decl.npos : end - at));
    const std::string key = lowerAscii(name);
    if (key == "utf-8" || key == "utf8") {
        return Encoding::Utf8;
    }
    if (key == "iso-8859-1" || key == "iso8859-1" || key == "iso_8859-1" || key == "latin1" || key == "latin-1") {
        return Encoding::Latin1;
    }
    if (key == "windows-1252" || key == "cp1252") {
        return Encoding::Win1252;
    }
    throw Error("O arquivo " + quoted(source) + " usa a codificação " + quoted(name) + ", que não é aceita.");
}

const char* expectedTypeText(FieldType type)
{
    switch (type) {
    case FieldType::String:
        return "string";
    case FieldType::FixedString:
        return "string com SUBTYPE FixedChar";
    case FieldType::Timestamp:
        return "SQLdateTime";
    case FieldType::Decimal:
        return "fixedFMT";
    case FieldType::Boolean:
        break;
    }
    return "um tipo que o pacote de dados não tem";
}

std::optional<long> wholeNumber(const char* text)
{
    const std::string_view s(text);
    if (s.empty() || s.size() > 9) {
        return std::nullopt;
    }
    long n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + (c - '0');
    }
    return n;
}

// Refuses a FIELD whose type cannot hold what the table declares.
void checkCompatible(const FieldDef& def, const pugi::xml_node& field, const std::string& source)
{
    const std::string where = "O campo " + def.name + " do arquivo " + quoted(source);
    const std::string fieldtype = field.attribute("fieldtype").value();
    const std::string subtype = field.attribute("SUBTYPE").value();
    const auto incompatible = [&] {
        std::string found = "fieldtype " + quoted(fieldtype);
        if (!subtype.empty()) {
            found += " com SUBTYPE " + quoted(subtype);
        }
        return Error(where + " tem tipo incompatível: " + found + ", esperado " + expectedTypeText(def.type) + ".");
    };
    switch (def.type) {
    case FieldType::String:
    case FieldType::FixedString: {
        if (fieldtype != "string" || !(subtype.empty() || subtype == "FixedChar")) {
            throw incompatible();
        }
        // Without a WIDTH the text is as wide as the table declares.
        const pugi::xml_attribute widthAttribute = field.attribute("WIDTH");
        const auto width = widthAttribute ? wholeNumber(widthAttribute.value()) : std::optional<long>(def.size);
        if (!width) {
            throw Error(where + " não declara um tamanho (WIDTH) válido.");
        }
        if (*width > def.size) {
            throw Error(where + " tem tamanho " + std::to_string(*width) + ", maior que o tamanho " +
                        std::to_string(def.size) + " aceito.");
        }
        return;
    }
    case FieldType::Timestamp:
        if (fieldtype != "SQLdateTime" || !subtype.empty()) {
            throw incompatible();
        }
        return;
    case FieldType::Decimal: {
        if (fieldtype != "fixedFMT" || !subtype.empty()) {
            throw incompatible();
        }
        const auto decimals = field.attribute("DECIMALS");
        const auto width = field.attribute("WIDTH");
        if (decimals) {
            const auto n = wholeNumber(decimals.value());
            if (!n || *n > static_cast<long>(Decimal::MaxFractionDigits)) {
                throw Error(where + " tem " + quoted(decimals.value()) + " casas decimais; o máximo aceito é 8.");
            }
        }
        if (width) {
            const auto n = wholeNumber(width.value());
            if (!n || *n > 32) {
                throw Error(where + " tem tamanho " + quoted(width.value()) + "; o máximo aceito é 32 dígitos.");
            }
        }
        return;
    }
    case FieldType::Boolean:
        throw incompatible();
    }
}

// A field's value of one ROW; `width` is the file's declared text width.
Value readValue(const FieldDef& def, const char* text, long width, const std::string& recordWhere)
{
    const std::string_view s(text);
    const auto invalid = [&] {
        return Error("Valor inválido no campo " + def.name + recordWhere + ": " + quoted(std::string(s)) + ".");
    };
    switch (def.type) {
    case FieldType::String:
    case FieldType::FixedString: {
        const auto length = static_cast<long>(platform::utf8Length(s));
        const long limit = std::min(width, static_cast<long>(def.size));
        if (length > limit) {
            throw Error("O valor do campo " + def.name + recordWhere + " tem " + std::to_string(length) +
                        " caracteres; o máximo é " + std::to_string(limit) + ".");
        }
        std::string value(s);
        if (def.type == FieldType::FixedString) {
            value.append(static_cast<std::size_t>(def.size - length), ' ');
        }
        return value;
    }
    case FieldType::Timestamp: {
        if (isZeroSqlDateTime(s)) {
            return std::monostate{};
        }
        const auto t = parseSqlDateTime(s);
        if (!t) {
            throw invalid();
        }
        return *t;
    }
    case FieldType::Decimal: {
        const auto d = Decimal::parse(s);
        if (!d) {
            throw invalid();
        }
        return *d;
    }
    case FieldType::Boolean:
        break;
    }
    throw invalid();
}

// What XML forbids and a lenient DOM parser lets through (an undeclared
// entity, a raw "<" in an attribute value, a reference without its ";", a
// reference to a character XML cannot hold) is refused here, before the
// document is read; so is any document type declaration, so that nothing
// from the server is expanded or fetched. `encoding` overrides the
// document's own declaration ("UTF-8" once converted).
void checkWellFormed(std::string_view document, const char* encoding, const std::string& sourceName)
{
    struct ParserDeleter
    {
        void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
    };
    const std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(encoding));
    if (!parser) {
        throw Error("Memória insuficiente para ler o arquivo " + quoted(sourceName) + ".", ENOMEM);
    }
    struct State
    {
        XML_Parser parser;
        bool doctype = false;
    } state{parser.get()};
    XML_SetUserData(parser.get(), &state);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetStartDoctypeDeclHandler(parser.get(),
                                   [](void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
                                       auto* s = static_cast<State*>(data);
                                       s->doctype = true;
                                       XML_StopParser(s->parser, XML_FALSE);
                                   });
    // Fed in pieces: the whole may be larger than one call takes.
    constexpr std::size_t Piece = 1 << 20;
    std::size_t at = 0;
    XML_Status status = XML_STATUS_OK;
    do {
        const std::size_t n = std::min(Piece, document.size() - at);
        const bool last = at + n == document.size();
        status = XML_Parse(parser.get(), document.data() + at, static_cast<int>(n), last ? XML_TRUE : XML_FALSE);
        at += n;
    } while (status == XML_STATUS_OK && at < document.size());
    if (state.doctype) {
        throw Error("O arquivo " + quoted(sourceName) +
                    " não é um documento XML válido: traz uma declaração de tipo de documento (DTD), que não é "
                    "aceita.");
    }
    if (status == XML_STATUS_OK) {
        return;
    }
    const XML_Error code = XML_GetErrorCode(parser.get());
    const char* reason = "XML mal formado";
    switch (code) {
    case XML_ERROR_UNDEFINED_ENTITY:
        reason = "referência a uma entidade não declarada";
        break;
    case XML_ERROR_BAD_CHAR_REF:
        reason = "referência a um caractere que o XML não admite";
        break;
    case XML_ERROR_INVALID_TOKEN:
        reason = "caractere ou marcação inválida";
        break;
    case XML_ERROR_UNCLOSED_TOKEN:
    case XML_ERROR_PARTIAL_CHAR:
    case XML_ERROR_NO_ELEMENTS:
    case XML_ERROR_UNCLOSED_CDATA_SECTION:
        reason = "o documento termina antes do fim";
        break;
    case XML_ERROR_TAG_MISMATCH:
        reason = "um elemento fechado com outro nome";
        break;
    case XML_ERROR_DUPLICATE_ATTRIBUTE:
        reason = "um atributo repetido";
        break;
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT:
        reason = "conteúdo depois do elemento principal";
        break;
    default:
        break;
    }
    throw Error("O arquivo " + quoted(sourceName) + " não é um documento XML válido (erro na posição " +
                std::to_string(XML_GetCurrentByteIndex(parser.get())) + ": " + reason + ").");
}

}  // namespace

std::vector<Row>
readDataPacket(std::string_view document, std::span<const FieldDef> fields, const std::string& sourceName)
{
    const std::string file = " do arquivo " + quoted(sourceName);
    Encoding encoding = declaredEncoding(document, sourceName);
    if (encoding == Encoding::Undeclared) {
        // Everything from the server is Windows-1252 unless it says
        // otherwise; bytes that are valid UTF-8 are taken as UTF-8, as XML
        // reads an undeclared document.
        encoding = validUtf8(document) ? Encoding::Utf8 : Encoding::Win1252;
    }
    std::string converted;
    pugi::xml_encoding parseAs = pugi::encoding_utf8;
    if (encoding == Encoding::Win1252) {
        // pugixml has no Windows-1252: converted to UTF-8 first, the
        // declaration left as it is (an explicit encoding overrides it).
        converted = platform::fromWin1252(document);
        document = converted;
    } else if (encoding == Encoding::Latin1) {
        parseAs = pugi::encoding_latin1;
    } else if (!validUtf8(document)) {
        throw Error("O arquivo " + quoted(sourceName) + " não está codificado em UTF-8 válido.");
    }

    checkWellFormed(document, parseAs == pugi::encoding_latin1 ? "ISO-8859-1" : "UTF-8", sourceName);
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(document.data(), document.size(), pugi::parse_default, parseAs);
    if (!parsed) {
        throw Error("O arquivo " + quoted(sourceName) + " não é um documento XML válido (erro na posição " +
                    std::to_string(parsed.offset) + ").");
    }
    const pugi::xml_node root = doc.document_element();
    const auto missing = [&](const char* what) {
        return Error("O arquivo " + quoted(sourceName) + " não é um pacote de dados: falta o elemento " + what + ".");
    };
    if (std::string_view(root.name()) != "DATAPACKET") {
        throw missing("DATAPACKET");
    }
    const pugi::xml_node fieldsNode = root.child("METADATA").child("FIELDS");
    if (!fieldsNode) {
        throw missing("METADATA/FIELDS");
    }
    const pugi::xml_node rowData = root.child("ROWDATA");
    if (!rowData) {
        throw missing("ROWDATA");
    }

    std::map<std::string, pugi::xml_node, std::less<>> fileFields;
    for (const pugi::xml_node f : fieldsNode.children("FIELD")) {
        const std::string name = f.attribute("attrname").value();
        if (!fileFields.emplace(name, f).second) {
            throw Error("O campo " + name + " aparece mais de uma vez no arquivo " + quoted(sourceName) + ".");
        }
    }
    // Declared text width of each stored field (0 for the other types).
    std::vector<long> widths(fields.size(), 0);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& def = fields[i];
        if (def.computed) {
            continue;
        }
        const auto found = fileFields.find(def.name);
        if (found == fileFields.end()) {
            throw Error("O campo " + def.name + " não existe no arquivo " + quoted(sourceName) + ".");
        }
        checkCompatible(def, found->second, sourceName);
        if (def.type == FieldType::String || def.type == FieldType::FixedString) {
            const pugi::xml_attribute width = found->second.attribute("WIDTH");
            widths[i] = width ? *wholeNumber(width.value()) : def.size;
        }
    }

    std::vector<Row> rows;
    std::size_t number = 0;
    for (const pugi::xml_node r : rowData.children("ROW")) {
        ++number;
        const std::string recordWhere = " no registro " + std::to_string(number) + file;
        Row row(fields.size());
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const FieldDef& def = fields[i];
            if (def.computed) {
                continue;
            }
            const pugi::xml_attribute a = r.attribute(def.name.c_str());
            if (a) {
                row[i] = readValue(def, a.value(), widths[i], recordWhere);
            }
            if (def.required && isNull(row[i])) {
                throw Error("O campo " + def.name + " é obrigatório e não tem valor" + recordWhere + ".");
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

namespace {

void appendEscaped(std::string& out, std::string_view text)
{
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        // Written as references, or a reader's attribute normalisation turns them into blanks.
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
}

void appendAttribute(std::string& out, std::string_view name, std::string_view value)
{
    out += ' ';
    out += name;
    out += "=\"";
    appendEscaped(out, value);
    out += '"';
}

// The text of a value as it goes into a ROW; throws for what the reader would refuse.
std::string writtenValue(const FieldDef& def, const Value& value, std::size_t number)
{
    const std::string where = "O campo " + def.name + " do registro " + std::to_string(number);
    const auto wrongType = [&] { return Error(where + " não tem um valor do tipo do campo."); };
    switch (def.type) {
    case FieldType::String:
    case FieldType::FixedString: {
        const auto* s = std::get_if<std::string>(&value);
        if (s == nullptr) {
            throw wrongType();
        }
        if (!validUtf8(*s)) {
            throw Error(where + " não é um texto UTF-8 válido.");
        }
        for (const char c : *s) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                throw Error(where + " tem um caractere de controle que o XML não admite.");
            }
        }
        if (platform::utf8Length(*s) > static_cast<std::size_t>(def.size)) {
            throw Error(where + " tem mais de " + std::to_string(def.size) + " caracteres.");
        }
        return *s;
    }
    case FieldType::Timestamp: {
        const auto* t = std::get_if<Timestamp>(&value);
        if (t == nullptr) {
            throw wrongType();
        }
        const std::string text = formatSqlDateTime(*t);
        if (t->millisecond < 0 || t->millisecond > 999 || parseSqlDateTime(text) != *t) {
            throw Error(where + " não tem uma data válida.");
        }
        return text;
    }
    case FieldType::Decimal: {
        const auto* d = std::get_if<Decimal>(&value);
        if (d == nullptr) {
            throw wrongType();
        }
        return d->toString();
    }
    case FieldType::Boolean:
        break;
    }
    throw Error("O campo " + def.name + " tem um tipo que o pacote de dados não tem.");
}

}  // namespace

std::string writeDataPacket(std::span<const FieldDef> fields, std::span<const Row> rows)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    for (const FieldDef& def : fields) {
        if (def.computed) {
            continue;
        }
        out += "<FIELD";
        appendAttribute(out, "attrname", def.name);
        switch (def.type) {
        case FieldType::String:
            appendAttribute(out, "fieldtype", "string");
            appendAttribute(out, "WIDTH", std::to_string(def.size));
            break;
        case FieldType::FixedString:
            appendAttribute(out, "fieldtype", "string");
            appendAttribute(out, "SUBTYPE", "FixedChar");
            appendAttribute(out, "WIDTH", std::to_string(def.size));
            break;
        case FieldType::Timestamp:
            appendAttribute(out, "fieldtype", "SQLdateTime");
            break;
        case FieldType::Decimal:
            appendAttribute(out, "fieldtype", "fixedFMT");
            appendAttribute(out, "DECIMALS", "8");
            appendAttribute(out, "WIDTH", "32");
            break;
        case FieldType::Boolean:
            throw Error("O campo " + def.name + " tem um tipo que o pacote de dados não tem.");
        }
        if (def.required) {
            appendAttribute(out, "required", "true");
        }
        out += "/>";
    }
    out += "</FIELDS><PARAMS/></METADATA><ROWDATA>";
    std::size_t number = 0;
    for (const Row& row : rows) {
        ++number;
        if (row.size() != fields.size()) {
            throw Error("O registro " + std::to_string(number) + " não tem um valor por campo.");
        }
        out += "<ROW";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const FieldDef& def = fields[i];
            if (def.computed) {
                continue;
            }
            if (isNull(row[i])) {
                if (def.required) {
                    throw Error("O campo " + def.name + " é obrigatório e não tem valor no registro " +
                                std::to_string(number) + ".");
                }
                continue;
            }
            appendAttribute(out, def.name, writtenValue(def, row[i], number));
        }
        out += "/>";
    }
    out += "</ROWDATA></DATAPACKET>";
    return out;
}

void saveDataPacket(const std::filesystem::path& path, std::span<const FieldDef> fields, std::span<const Row> rows)
{
    const std::string text = writeDataPacket(fields, rows);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
    }
    const int code = errno;
    if (!out) {
        throw Error("Não foi possível gravar o arquivo " + quoted(path.string()) + ".", code);
    }
}

}  // namespace vek::dataset
