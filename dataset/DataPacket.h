#pragma once

#include "dataset/FieldValue.h"

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vek::dataset {

// The list and history files are XML data packets of this form, which zebd
// writes and the client reads:
//
//   <?xml version="1.0" encoding="UTF-8" standalone="yes"?>
//   <DATAPACKET Version="2.0"><METADATA><FIELDS>
//   <FIELD attrname="NM_ARQUIVO" fieldtype="string" WIDTH="200" required="true"/>
//   ...</FIELDS><PARAMS/></METADATA><ROWDATA>
//   <ROW NM_ARQUIVO="retorno.xml" TAMANHO="12.5" DT_CADASTRO="20261209T14:05:09000" .../>
//   </ROWDATA></DATAPACKET>
//
// Field types accepted, and the form of their values in a ROW:
//
//   table type       fieldtype     other attributes                      value in a ROW
//   string n         string        WIDTH="w", w <= n (none: w = n)       the text, at most w characters
//   fixed string n   string        SUBTYPE="FixedChar" (or none),        the text, at most w characters;
//                                  WIDTH="w", w <= n (none: w = n)       shorter ones are padded with blanks
//   timestamp        SQLdateTime                                         yyyymmddThh:nn:ssmmm
//                                                                        (all zeros: no date, read as null)
//   decimal          fixedFMT      DECIMALS="8" WIDTH="32"               decimal text with "." and at most
//                                  (smaller values accepted)             24 + 8 digits: 12.5, -3, 1000
//
// A field absent from a ROW is null; a required field must have a value in
// every ROW. Every field the table declares must be in FIELDS with a
// compatible type; FIELDS may hold more fields, which are ignored, and so are
// other attributes of a ROW. The document's declared encoding is honoured:
// UTF-8, ISO-8859-1 or Windows-1252. A document that declares none is UTF-8
// when its bytes are valid UTF-8 and Windows-1252 (the server's encoding)
// otherwise.
//
// Reading fails with a vek::Error whose Portuguese text names the file and,
// where there is one, the field and the record.

// The rows of the document, each as wide as `fields` (computed fields null).
std::vector<Row>
readDataPacket(std::string_view document, std::span<const FieldDef> fields, const std::string& sourceName);

// The document that zebd sends: the stored (not computed) fields of the
// definition and the rows, each as wide as `fields`. Throws vek::Error for a
// value the reader would refuse (a wrong type, a text that is too long or
// that XML cannot carry, a required field without value), naming the field.
std::string writeDataPacket(std::span<const FieldDef> fields, std::span<const Row> rows);

// The same written to a file; throws vek::Error when it cannot be written.
void saveDataPacket(const std::filesystem::path& path, std::span<const FieldDef> fields, std::span<const Row> rows);

}  // namespace vek::dataset
