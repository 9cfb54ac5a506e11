// Declared export: each driver class lists its host methods, settings and
// additional actions once, in order; registration turns the lists into the
// registry (own class first, then its ancestors). The class also keeps the
// last call's result that GetLastError reports.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/uValue.h"
#include "frame/v8napi.h"

namespace fr {

// An object whose settings are declared as properties (a driver object or a
// device session).
class TPropertyHolder {
public:
    virtual ~TPropertyHolder() = default;
    virtual const struct TClassDecl& ClassDecl() const = 0;
};

enum TPropKind { pkInteger, pkInt64, pkByte, pkBoolean, pkDouble, pkText, pkVariant };

struct TPropDecl {
    std::string Name;
    std::string NameLoc;
    std::string Caption;
    std::string DefValue;
    bool ReadOnly = false;
    TPropKind Kind = pkInteger;
    // Values travel as TValue: integers as int64, Booleans, doubles, texts.
    TValue (*Get)(const TPropertyHolder& AObject, const TPropDecl& ADecl) = nullptr;
    void (*Set)(TPropertyHolder& AObject, const TPropDecl& ADecl, const TValue& AValue) = nullptr;
    // The accessor the two routines above use (a member pointer or a
    // getter/setter pair), type-erased.
    std::shared_ptr<const void> Accessor;
};

struct TMethDecl {
    std::string Name;
    std::string NameLoc;
    int32_t ParamCount = 0;
    TFuncEntry Execute = nullptr;
};

struct TActionDecl {
    std::string Name;
    std::string Caption;
    void (*Run)(TPropertyHolder& AObject) = nullptr;
};

struct TClassDecl {
    const TClassDecl* Parent = nullptr;
    std::vector<TMethDecl> Methods;
    std::vector<TPropDecl> Props;
    std::vector<TActionDecl> Actions;

    // All declarations of the class chain: own class first, then ancestors.
    std::vector<const TMethDecl*> AllMethods() const;
    std::vector<const TPropDecl*> AllProps() const;
    std::vector<const TActionDecl*> AllActions() const;
};

// Builds the declaration list of class C.
template <class C>
class TDeclBuilder {
public:
    explicit TDeclBuilder(TClassDecl& ADecl) : FDecl(ADecl) {}

    template <void (C::*M)(TV8Call&)>
    void Method(std::string AName, std::string ANameLoc, int32_t AParamCount) {
        FDecl.Methods.push_back(TMethDecl{std::move(AName), std::move(ANameLoc), AParamCount, &MethodThunk<M>});
    }

    template <void (C::*M)()>
    void Action(std::string AName, std::string ACaption) {
        FDecl.Actions.push_back(TActionDecl{std::move(AName), std::move(ACaption),
                                            [](TPropertyHolder& O) { (static_cast<C&>(O).*M)(); }});
    }

    // A setting stored in a field.
    template <class T>
    void Prop(std::string AName, std::string ANameLoc, std::string ACaption, std::string ADefValue, bool AReadOnly,
              T C::*AField) {
        TPropDecl D = Make(std::move(AName), std::move(ANameLoc), std::move(ACaption), std::move(ADefValue),
                           AReadOnly, KindOf<T>());
        D.Accessor = std::make_shared<T C::*>(AField);
        D.Get = [](const TPropertyHolder& O, const TPropDecl& P) {
            return ToValue(static_cast<const C&>(O).*(*static_cast<T C::* const*>(P.Accessor.get())));
        };
        D.Set = [](TPropertyHolder& O, const TPropDecl& P, const TValue& V) {
            static_cast<C&>(O).*(*static_cast<T C::* const*>(P.Accessor.get())) = FromValue<T>(V);
        };
        FDecl.Props.push_back(std::move(D));
    }

    // A setting stored in a field of a member record (settings shared by
    // several classes).
    template <class S, class T>
    void Prop(std::string AName, std::string ANameLoc, std::string ACaption, std::string ADefValue, bool AReadOnly,
              S C::*AOuter, T S::*AInner) {
        using TPair = std::pair<S C::*, T S::*>;
        TPropDecl D = Make(std::move(AName), std::move(ANameLoc), std::move(ACaption), std::move(ADefValue),
                           AReadOnly, KindOf<T>());
        D.Accessor = std::make_shared<TPair>(AOuter, AInner);
        D.Get = [](const TPropertyHolder& O, const TPropDecl& P) {
            const auto& A = *static_cast<const TPair*>(P.Accessor.get());
            return ToValue(static_cast<const C&>(O).*A.first.*A.second);
        };
        D.Set = [](TPropertyHolder& O, const TPropDecl& P, const TValue& V) {
            const auto& A = *static_cast<const TPair*>(P.Accessor.get());
            static_cast<C&>(O).*A.first.*A.second = FromValue<T>(V);
        };
        FDecl.Props.push_back(std::move(D));
    }

    // A setting stored in a field of one element of an array of records in
    // a member record (numbered settings of one kind: "Name1" .. "NameN").
    template <class S, class E, size_t N, class T>
    void Prop(std::string AName, std::string ANameLoc, std::string ACaption, std::string ADefValue, bool AReadOnly,
              S C::*AOuter, std::array<E, N> S::*AArray, size_t AIndex, T E::*AInner) {
        struct TPath {
            S C::*Outer;
            std::array<E, N> S::*Array;
            size_t Index;
            T E::*Inner;
        };
        TPropDecl D = Make(std::move(AName), std::move(ANameLoc), std::move(ACaption), std::move(ADefValue), AReadOnly,
                           KindOf<T>());
        D.Accessor = std::make_shared<TPath>(TPath{AOuter, AArray, AIndex, AInner});
        D.Get = [](const TPropertyHolder& O, const TPropDecl& P) {
            const auto& A = *static_cast<const TPath*>(P.Accessor.get());
            return ToValue((static_cast<const C&>(O).*A.Outer.*A.Array).at(A.Index).*A.Inner);
        };
        D.Set = [](TPropertyHolder& O, const TPropDecl& P, const TValue& V) {
            const auto& A = *static_cast<const TPath*>(P.Accessor.get());
            (static_cast<C&>(O).*A.Outer.*A.Array).at(A.Index).*A.Inner = FromValue<T>(V);
        };
        FDecl.Props.push_back(std::move(D));
    }

    // A setting read and written through methods (side effects on writing).
    template <class T>
    void Prop(std::string AName, std::string ANameLoc, std::string ACaption, std::string ADefValue, bool AReadOnly,
              T (C::*AGetter)() const, void (C::*ASetter)(T)) {
        using TPair = std::pair<T (C::*)() const, void (C::*)(T)>;
        TPropDecl D = Make(std::move(AName), std::move(ANameLoc), std::move(ACaption), std::move(ADefValue),
                           AReadOnly, KindOf<T>());
        D.Accessor = std::make_shared<TPair>(AGetter, ASetter);
        D.Get = [](const TPropertyHolder& O, const TPropDecl& P) {
            const auto& A = *static_cast<const TPair*>(P.Accessor.get());
            return ToValue((static_cast<const C&>(O).*A.first)());
        };
        D.Set = [](TPropertyHolder& O, const TPropDecl& P, const TValue& V) {
            const auto& A = *static_cast<const TPair*>(P.Accessor.get());
            (static_cast<C&>(O).*A.second)(FromValue<T>(V));
        };
        FDecl.Props.push_back(std::move(D));
    }

private:
    template <void (C::*M)(TV8Call&)>
    static bool MethodThunk(TV8UserObject* Self, tVariant* RetValue, tVariant* Params, long Count, IAddInDefBase*) {
        TV8Call Call(*Self, RetValue, Params, Count);
        (static_cast<C*>(Self)->*M)(Call);
        return true;
    }

    template <class T>
    static constexpr TPropKind KindOf() {
        if constexpr (std::is_same_v<T, bool>)
            return pkBoolean;
        else if constexpr (std::is_same_v<T, uint8_t>)
            return pkByte;
        else if constexpr (std::is_same_v<T, int32_t>)
            return pkInteger;
        else if constexpr (std::is_same_v<T, int64_t>)
            return pkInt64;
        else if constexpr (std::is_same_v<T, double>)
            return pkDouble;
        else if constexpr (std::is_same_v<T, std::string>)
            return pkText;
        else if constexpr (std::is_same_v<T, TValue>)
            return pkVariant;
        else
            static_assert(sizeof(T) == 0, "unsupported setting type");
    }

    template <class T>
    static TValue ToValue(const T& AValue) {
        if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, double> || std::is_same_v<T, std::string> ||
                      std::is_same_v<T, TValue>)
            return TValue(AValue);
        else
            return TValue(int64_t(AValue));
    }

    // The value arrives already converted to the setting's kind.
    template <class T>
    static T FromValue(const TValue& V) {
        if constexpr (std::is_same_v<T, bool>)
            return V.RawBool();
        else if constexpr (std::is_same_v<T, double>)
            return V.RawDouble();
        else if constexpr (std::is_same_v<T, std::string>)
            return V.RawText();
        else if constexpr (std::is_same_v<T, TValue>)
            return V;
        else
            return T(V.RawInt());
    }

    static TPropDecl Make(std::string AName, std::string ANameLoc, std::string ACaption, std::string ADefValue,
                          bool AReadOnly, TPropKind AKind) {
        TPropDecl D;
        D.Name = std::move(AName);
        D.NameLoc = std::move(ANameLoc);
        D.Caption = std::move(ACaption);
        D.DefValue = std::move(ADefValue);
        D.ReadOnly = AReadOnly;
        D.Kind = AKind;
        return D;
    }

    TClassDecl& FDecl;
};

// Declares class C: ADeclare receives a TDeclBuilder<C>.
template <class C, class F>
TClassDecl MakeClassDecl(const TClassDecl* AParent, F ADeclare) {
    TClassDecl D;
    D.Parent = AParent;
    TDeclBuilder<C> B(D);
    ADeclare(B);
    return D;
}

// Converts a loose value to the kind of a setting (integers as int64 cut to
// 32 bits, Booleans from "true"/"false" or numbers). Raises when the value
// cannot be converted.
TValue ConvertToKind(const TValue& AValue, TPropKind AKind);

// The result of the last exported call.
struct TResult {
    int32_t ErrorCode = 0;
    std::string ErrorDescription;
    bool BoolResult = true;

    void Clear();
    void SetError(const std::string& ADescription, int32_t AErrorCode);
    int32_t GetIntResult() const;
};

// Base of every driver class seen by the host.
class TCustomDriver : public TV8UserObject, public TPropertyHolder {
public:
    static const TClassDecl& Decl();
    const TClassDecl& ClassDecl() const override { return Decl(); }

    // Registers class C under AExtension (class name and extension name).
    template <class C>
    static TClassReg& RegisterClass(const std::string& AExtension) {
        return RegisterClassDecl([] { return std::unique_ptr<TV8UserObject>(new C); }, C::Decl(), AExtension);
    }
    template <class C>
    static TClassReg& RegisterDriver(const std::string& AExtension) {
        TClassReg& R = RegisterClass<C>(AExtension);
        AfterRegisterDriver(AExtension);
        return R;
    }
    static TClassReg& RegisterClassDecl(TObjectFactory AFactory, const TClassDecl& ADecl,
                                        const std::string& AExtension);

    // Records a failure as the last result; the host result becomes false.
    virtual void HandleException(const std::string& AMessage, tVariant* RetValue, int32_t ACode);

    // Reads or writes a declared setting from or into a host value.
    bool PropertyGetSet(const std::string& PropName, tVariant* propValue, bool Get);
    void PropertySet(const std::string& PropName, const tVariant* propValue);
    // The same with a loose value (write only).
    void PropertyGetSet(const std::string& PropName, const TValue& AValue);
    void PropertySet(const std::string& PropName, const TValue& AValue);
    // Every writable setting but "LogEnabled" back to its declared default.
    void PropertiesSetDefault();
    TValue GetPropertyValue(const TPropDecl& AProperty) const;
    // Stores AValue into the setting of the same name of ATarget; keeps the
    // device log flag of FDeviceID in step with "LogEnabled".
    bool CopyPropertyTo(const TPropDecl& AProperty, const TValue& AValue, TPropertyHolder& ATarget);
    void ReportSuccess(tVariant* RetValue);

    const TResult& LastResult() const { return FLastResult; }

protected:
    static void AfterRegisterDriver(const std::string& AExtension);

    TResult FLastResult;
    bool FMteDriver = false;
    std::string FDeviceID;
};

// Message of the exception in flight (call inside a catch block).
std::string CurrentExceptionMessage();
// Code an exception in flight carries: its own for an EquException, else 1001.
int32_t CurrentExceptionCode();

}  // namespace fr
