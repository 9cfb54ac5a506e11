// XML documents exchanged with the host: strict parsing with a clear
// message, new documents with version "1.0" and no encoding, serialisation.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace fr {

// Loads AText (UTF-8) into ADoc. A text that is not well-formed raises
// std::runtime_error with the parser's message and position. A document the
// driver must not act on raises EquException 1004 "Ошибка входных параметров
// команды" with the reason: a document type declaration (and with it any
// entity declaration), an attribute given twice on one element, a reference
// to an entity other than the five predefined ones, or a character
// reference to a character XML does not allow (&#0; among them). With
// AAllowNoElement a text without any element leaves ADoc empty instead of
// raising.
void LoadXml(pugi::xml_document& ADoc, std::string_view AText, bool AAllowNoElement = false);
// Empties ADoc and gives it the declaration <?xml version="1.0"?>.
void NewXmlDocument(pugi::xml_document& ADoc);
// The document as text, declaration included.
std::string XmlToText(const pugi::xml_document& ADoc);
// Booleans in documents are written as "true" and "false".
inline const char* XmlBool(bool AValue) {
    return AValue ? "true" : "false";
}

}  // namespace fr
