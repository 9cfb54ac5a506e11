// The settings document (the form the host shows, kept in the library) and
// the description document: a fuzzed settings text goes through the same
// reader the driver uses for its embedded one, and a fuzzed name and
// description through the description writer. What the driver writes must
// read back as a document.
#include <cstdlib>

#include "FuzzCommon.h"
#include "base/uXmlUtils.h"
#include "fiscal/uDriver.h"

namespace {

void ReadsBack(const std::string& AText) {
    pugi::xml_document Doc;
    fr::LoadXml(Doc, AText);  // raises (and so aborts below) when the driver wrote a broken document
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    fr::fuzz::TInput In(AData, ASize);
    const std::string Name = In.Chunk();
    const std::string Description = In.Chunk();
    const std::string Settings = In.Rest();

    std::string Written;
    try {
        Written = fr::BuildParametersXml(&Settings, fr::TDriver::Decl());
    } catch (const std::exception&) {
        // A settings text the reader refuses.
    }
    try {
        if (!Written.empty()) ReadsBack(Written);
    } catch (const std::exception& E) {
        fprintf(stderr, "settings document does not read back: %s\n", E.what());
        abort();
    }

    fr::TDriverInfo Saved = fr::DriverInfo();
    fr::ChangeDriverInfo([&](fr::TDriverInfo& I) {
        I.Name = Name;
        I.Description = Description;
    });
    fr::TDriver Drv;
    try {
        ReadsBack(Drv.GetDescriptionXml());
    } catch (const std::exception& E) {
        fprintf(stderr, "description document does not read back: %s\n", E.what());
        abort();
    }
    fr::ChangeDriverInfo([&](fr::TDriverInfo& I) { I = Saved; });
    return 0;
}
