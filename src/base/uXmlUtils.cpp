#include "base/uXmlUtils.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"

namespace fr {

namespace {

[[noreturn]] void Refuse(const std::string& AReason) {
    throw EquException(1004, "Ошибка входных параметров команды. " + AReason);
}

// The reference as written, for the message; long ones are not repeated.
std::string ReferenceText(std::string_view AName) {
    return AName.size() <= 16 ? "«&" + std::string(AName) + ";»" : std::string("«&…;»");
}

// Characters a document may hold (the XML 1.0 character range).
bool IsDocumentChar(uint32_t C) {
    return C == 0x09 || C == 0x0A || C == 0x0D || (C >= 0x20 && C <= 0xD7FF) || (C >= 0xE000 && C <= 0xFFFD) ||
           (C >= 0x10000 && C <= 0x10FFFF);
}

// Value of a character reference "#123" or "#x7B"; refused when it is not
// a number or names a character outside the document range.
char32_t CharReference(std::string_view AName) {
    std::string_view Digits = AName.substr(1);
    int Base = 10;
    if (!Digits.empty() && Digits[0] == 'x') {
        Base = 16;
        Digits.remove_prefix(1);
    }
    uint32_t C = 0;
    bool Valid = !Digits.empty();
    for (char D : Digits) {
        int V = -1;
        if (D >= '0' && D <= '9')
            V = D - '0';
        else if (Base == 16 && D >= 'a' && D <= 'f')
            V = D - 'a' + 10;
        else if (Base == 16 && D >= 'A' && D <= 'F')
            V = D - 'A' + 10;
        if (V < 0 || C > 0x10FFFF) {
            Valid = false;
            break;
        }
        C = C * uint32_t(Base) + uint32_t(V);
    }
    if (!Valid || !IsDocumentChar(C)) Refuse("Ссылка на недопустимый символ " + ReferenceText(AName));
    return char32_t(C);
}

// AText with its references replaced by the characters they stand for.
// The parser leaves them alone, so that the undeclared ones it would keep
// as literal text and the ones to characters XML forbids (a NUL would cut
// the value short) are refused here.
std::string DecodeReferences(std::string_view AText) {
    std::string Out;
    Out.reserve(AText.size());
    size_t I = 0;
    while (I < AText.size()) {
        const size_t Amp = AText.find('&', I);
        if (Amp == std::string_view::npos) {
            Out.append(AText.substr(I));
            break;
        }
        Out.append(AText.substr(I, Amp - I));
        const size_t End = AText.find(';', Amp + 1);
        if (End == std::string_view::npos) Refuse("Знак «&» не начинает ссылку на символ или сущность");
        const std::string_view Name = AText.substr(Amp + 1, End - Amp - 1);
        if (Name == "lt")
            Out += '<';
        else if (Name == "gt")
            Out += '>';
        else if (Name == "amp")
            Out += '&';
        else if (Name == "apos")
            Out += '\'';
        else if (Name == "quot")
            Out += '"';
        else if (!Name.empty() && Name[0] == '#')
            Out += Utf32ToUtf8(std::u32string(1, CharReference(Name)));
        else
            Refuse("Ссылка на необъявленную сущность " + ReferenceText(Name));
        I = End + 1;
    }
    return Out;
}

// Checks and decodes every node of ADoc, without recursion (a deeply nested
// document must not exhaust the stack).
void CheckAndDecode(pugi::xml_document& ADoc) {
    std::vector<std::string_view> Names;
    pugi::xml_node N = ADoc.first_child();
    while (N) {
        switch (N.type()) {
            case pugi::node_doctype:
                Refuse("Документ XML с объявлением типа документа (DTD) или сущностей не принимается");
            case pugi::node_pcdata:
                if (std::strchr(N.value(), '&')) N.set_value(DecodeReferences(N.value()).c_str());
                break;
            case pugi::node_element:
            case pugi::node_declaration: {
                Names.clear();
                for (pugi::xml_attribute A = N.first_attribute(); A; A = A.next_attribute()) {
                    Names.emplace_back(A.name());
                    if (std::strchr(A.value(), '&')) A.set_value(DecodeReferences(A.value()).c_str());
                }
                std::sort(Names.begin(), Names.end());
                const auto Twice = std::adjacent_find(Names.begin(), Names.end());
                if (Twice != Names.end())
                    Refuse("Атрибут «" + std::string(*Twice) + "» указан у элемента «" + N.name() +
                           "» больше одного раза");
                break;
            }
            default:
                break;
        }
        if (N.first_child()) {
            N = N.first_child();
            continue;
        }
        while (N && !N.next_sibling()) N = N.parent();
        if (N) N = N.next_sibling();
    }
}

}  // namespace

void LoadXml(pugi::xml_document& ADoc, std::string_view AText, bool AAllowNoElement) {
    // References are decoded after the parse (see DecodeReferences); the
    // document type declaration is kept as a node so that it can be refused.
    constexpr unsigned Options =
        (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_declaration | pugi::parse_doctype;
    const pugi::xml_parse_result R = ADoc.load_buffer(AText.data(), AText.size(), Options, pugi::encoding_utf8);
    const bool Empty = R.status == pugi::status_no_document_element;
    if (!R && !(Empty && AAllowNoElement))
        throw std::runtime_error(std::string("Ошибка разбора XML: ") + R.description() + " (позиция " +
                                 std::to_string(R.offset) + ")");
    CheckAndDecode(ADoc);
    if (Empty) ADoc.reset();
}

void NewXmlDocument(pugi::xml_document& ADoc) {
    ADoc.reset();
    pugi::xml_node Decl = ADoc.append_child(pugi::node_declaration);
    Decl.append_attribute("version") = "1.0";
}

std::string XmlToText(const pugi::xml_document& ADoc) {
    std::ostringstream S;
    ADoc.save(S, "  ", pugi::format_default | pugi::format_no_declaration, pugi::encoding_utf8);
    // The writer turns control characters of a value (a device text may
    // hold them) into references such as "&#3;", which XML forbids and a
    // strict reader refuses; they are left out, as they are on input. Every
    // "&" of a value is written as "&amp;", so "&#" comes from the writer.
    const std::string Text = S.str();
    if (Text.find("&#") == std::string::npos) return Text;
    std::string Out;
    Out.reserve(Text.size());
    size_t I = 0;
    while (I < Text.size()) {
        const size_t Ref = Text.find("&#", I);
        const size_t End = Ref == std::string::npos ? Ref : Text.find(';', Ref);
        if (End == std::string::npos) {
            Out.append(Text, I, std::string::npos);
            break;
        }
        Out.append(Text, I, Ref - I);
        const std::string_view Name(Text.data() + Ref + 1, End - Ref - 1);
        bool Allowed = true;
        try {
            CharReference(Name);
        } catch (const EquException&) {
            Allowed = false;
        }
        if (Allowed) Out.append(Text, Ref, End + 1 - Ref);
        I = End + 1;
    }
    return Out;
}

}  // namespace fr
