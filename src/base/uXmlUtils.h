// XML documents exchanged with the host: parsing with a clear message,
// new documents with version "1.0" and no encoding, serialisation.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace fr {

// Loads AText (UTF-8) into ADoc; raises std::runtime_error with the
// parser's message and position when it is not well-formed.
void LoadXml(pugi::xml_document& ADoc, std::string_view AText);
// Empties ADoc and gives it the declaration <?xml version="1.0"?>.
void NewXmlDocument(pugi::xml_document& ADoc);
// The document as text, declaration included.
std::string XmlToText(const pugi::xml_document& ADoc);
// Booleans in documents are written as "true" and "false".
inline const char* XmlBool(bool AValue) { return AValue ? "true" : "false"; }

}  // namespace fr
