// What the fuzz targets share: a reader that takes the fuzzer's bytes apart,
// a host memory manager and host values for calls into the driver's host
// wrappers.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/uStrings.h"
#include "frame/v8types.h"

namespace fr::fuzz {

// The fuzzer's bytes, taken from the front.
class TInput {
public:
    TInput(const uint8_t* AData, size_t ASize) : FRest(reinterpret_cast<const char*>(AData), ASize) {}
    bool Empty() const { return FRest.empty(); }
    uint8_t Byte() {
        if (FRest.empty()) return 0;
        const uint8_t B = uint8_t(FRest[0]);
        FRest.remove_prefix(1);
        return B;
    }
    std::string Bytes(size_t ACount) {
        const std::string_view S = FRest.substr(0, ACount);
        FRest.remove_prefix(S.size());
        return std::string(S);
    }
    // A piece introduced by its one-byte length.
    std::string Chunk() { return Bytes(Byte()); }
    std::string Rest() { return Bytes(FRest.size()); }

private:
    std::string_view FRest;
};

// The host's memory manager: plain malloc and free.
class THostMemory final : public IMemoryManager {
public:
    bool AllocMemory(void** pMemory, unsigned long ulCountByte) override {
        *pMemory = std::malloc(ulCountByte ? ulCountByte : 1);
        return *pMemory != nullptr;
    }
    void FreeMemory(void** pMemory) override {
        std::free(*pMemory);
        *pMemory = nullptr;
    }
};

// Host parameters of one call; strings are held here and freed with the
// values the driver wrote back into host memory.
class THostParams {
public:
    explicit THostParams(size_t ACount) : FCount(ACount) {
        std::memset(FParams, 0, sizeof FParams);
        std::memset(&FRet, 0, sizeof FRet);
    }
    ~THostParams() {
        for (size_t I = 0; I < FCount; ++I) Release(FParams[I]);
        Release(FRet);
    }
    THostParams(const THostParams&) = delete;
    THostParams& operator=(const THostParams&) = delete;

    tVariant* Params() { return FParams; }
    tVariant* Ret() { return &FRet; }
    long Count() const { return long(FCount); }
    tVariant& operator[](size_t I) { return FParams[I]; }

    // A host string from UTF-8 (bytes that are not UTF-8 as the converter
    // takes them).
    void SetString(size_t I, std::string_view AUtf8) { SetString16(I, Utf8ToUtf16(AUtf8)); }
    void SetString16(size_t I, const std::u16string& AText) {
        tVariant& V = FParams[I];
        Release(V);
        V.vt = VTYPE_PWSTR;
        V.pwstrVal = static_cast<WCHAR_T*>(std::malloc((AText.size() + 1) * sizeof(WCHAR_T)));
        std::memcpy(V.pwstrVal, AText.data(), AText.size() * sizeof(WCHAR_T));
        V.pwstrVal[AText.size()] = 0;
        V.wstrLen = uint32_t(AText.size());
    }
    void SetBool(size_t I, bool AValue) {
        Release(FParams[I]);
        FParams[I].vt = VTYPE_BOOL;
        FParams[I].bVal = AValue;
    }
    void SetInt(size_t I, int32_t AValue) {
        Release(FParams[I]);
        FParams[I].vt = VTYPE_I4;
        FParams[I].lVal = AValue;
    }
    void SetDouble(size_t I, double AValue) {
        Release(FParams[I]);
        FParams[I].vt = VTYPE_R8;
        FParams[I].dblVal = AValue;
    }

private:
    // Strings and blobs of either side live in malloc'ed blocks.
    static void Release(tVariant& V) {
        if (V.vt == VTYPE_PWSTR) std::free(V.pwstrVal);
        if (V.vt == VTYPE_PSTR || V.vt == VTYPE_BLOB) std::free(V.pstrVal);
        std::memset(&V, 0, sizeof V);
    }

    static constexpr size_t MaxParams = 4;
    size_t FCount;
    tVariant FParams[MaxParams];
    tVariant FRet;
};

}  // namespace fr::fuzz
