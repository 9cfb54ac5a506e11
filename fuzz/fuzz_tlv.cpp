// The decoder of stored fiscal documents: the fuzzer's bytes are the
// records a device hands out one by one (each a tag, a length and a value,
// the last one possibly broken), decoded into elements and turned into the
// host's CheckPackage; the same bytes also go through the TLV list reader of
// the marking answers.
#include <map>

#include "FuzzCommon.h"
#include "base/uXmlUtils.h"
#include "device/uTLVStructure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    static const int32_t DocTypes[] = {3, 31, 4, 41, 1, 11, 2, 5, 21, 6};
    fr::fuzz::TInput In(AData, ASize);
    const uint8_t Kind = In.Byte();
    const int32_t DocType = Kind < std::size(DocTypes) ? DocTypes[Kind] : int32_t(Kind);
    const std::string Bytes = In.Rest();

    fr::TDocElementList List;
    std::string_view Rest = Bytes;
    try {
        int32_t Tag = 0;
        std::string_view Value;
        for (;;) {
            const char* const Start = Rest.data();
            if (!fr::NextTLVRecord(Rest, Tag, Value)) break;
            fr::AddDocumentRecord(std::string_view(Start, size_t(Rest.data() - Start)), List);
        }
    } catch (const std::exception&) {
        // A broken record ends the list; the device may still hand it out.
        try {
            fr::AddDocumentRecord(Rest, List);
        } catch (const std::exception&) {
        }
    }
    try {
        pugi::xml_document Doc;
        fr::NewXmlDocument(Doc);
        fr::BuildCheckPackage(List, DocType, Doc);
        (void)fr::XmlToText(Doc);
    } catch (const std::exception&) {
    }
    try {
        std::string Copy = Bytes;
        std::map<int32_t, fr::TValue> Tags;
        fr::ReadTLVList(Copy, Tags);
    } catch (const std::exception&) {
    }
    return 0;
}
