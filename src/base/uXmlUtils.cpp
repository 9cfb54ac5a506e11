#include "base/uXmlUtils.h"

#include <sstream>
#include <stdexcept>

namespace fr {

void LoadXml(pugi::xml_document& ADoc, std::string_view AText) {
    const pugi::xml_parse_result R =
        ADoc.load_buffer(AText.data(), AText.size(), pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8);
    if (!R)
        throw std::runtime_error(std::string("Ошибка разбора XML: ") + R.description() + " (позиция " +
                                 std::to_string(R.offset) + ")");
}

void NewXmlDocument(pugi::xml_document& ADoc) {
    ADoc.reset();
    pugi::xml_node Decl = ADoc.append_child(pugi::node_declaration);
    Decl.append_attribute("version") = "1.0";
}

std::string XmlToText(const pugi::xml_document& ADoc) {
    std::ostringstream S;
    ADoc.save(S, "  ", pugi::format_default | pugi::format_no_declaration, pugi::encoding_utf8);
    return S.str();
}

}  // namespace fr
