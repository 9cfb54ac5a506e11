/* A host for the driver's Windows DLL that knows nothing of the component's
 * own declarations. The platform's Windows client is built with MSVC, so
 * this host is written the way that client sees the interfaces: every
 * interface slot is numbered here by hand from the platform's published
 * order (slot 0 is the virtual destructor, which MSVC gives one slot), every
 * method is __stdcall (on x86 "this" and the arguments on the stack, popped
 * by the callee), text is 16-bit wchar_t, long is 4 bytes, and tVariant is
 * MSVC's 48-byte structure, read and written at fixed offsets. The memory
 * manager and the connection handed to the component are C structures with
 * tables of function pointers. A host built from the component's headers
 * would repeat any mistake in them; this one fails on it.
 *
 * usage: v8host DLL   (exit code 0 when every check passed)
 */
#include <winsock2.h>
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define HOSTCALL __stdcall
typedef unsigned char hbool; /* C++ bool: one byte, returned in AL */

static int Failures;
static void Fail(const char* AWhat) {
    fprintf(stderr, "FAIL: %s\n", AWhat);
    Failures++;
}
#define CHECK(c)      \
    do {              \
        if (!(c))     \
            Fail(#c); \
    } while (0)

/* On x86 a call through a slot of the wrong calling convention leaves the
 * stack pointer moved; compare it around each call (built with
 * -fno-defer-pop, so the compiler settles its own pushes at each call). */
#if defined(__i386__)
#define CALL(expr)                                                         \
    __extension__({                                                        \
        uintptr_t Sp0_, Sp1_;                                              \
        __asm__ volatile("movl %%esp, %0" : "=r"(Sp0_));                   \
        __typeof__(expr) R_ = (expr);                                      \
        __asm__ volatile("movl %%esp, %0" : "=r"(Sp1_));                   \
        if (Sp0_ != Sp1_)                                                  \
            Fail("stack pointer moved across a call: " #expr);             \
        R_;                                                                \
    })
#define CALLV(expr)                                                        \
    __extension__({                                                        \
        uintptr_t Sp0_, Sp1_;                                              \
        __asm__ volatile("movl %%esp, %0" : "=r"(Sp0_));                   \
        expr;                                                              \
        __asm__ volatile("movl %%esp, %0" : "=r"(Sp1_));                   \
        if (Sp0_ != Sp1_)                                                  \
            Fail("stack pointer moved across a call: " #expr);             \
    })
#else
#define CALL(expr) (expr)
#define CALLV(expr) (expr)
#endif

/* Any function pointer; tables and slots hold these (ISO C converts
 * between function pointer types, not to and from object pointers). */
typedef void (*TAnyFn)(void);

/* ---- tVariant as MSVC lays it out (x86-64 and x86 alike) ---------------- */

enum { TV_SIZE = 48, TV_CBELEMENTS = 40, TV_VT = 44, TV_LEN = sizeof(void*) };
enum { VT_EMPTY_ = 0, VT_I4_ = 3, VT_BOOL_ = 11, VT_PWSTR_ = 22 };

typedef struct {
    _Alignas(8) unsigned char B[TV_SIZE];
} tVariant;

static uint16_t VarType(const tVariant* V) {
    uint16_t T;
    memcpy(&T, V->B + TV_VT, 2);
    return T;
}
static int32_t VarI4(const tVariant* V) {
    int32_t I;
    memcpy(&I, V->B, 4);
    return I;
}
static wchar_t* VarWStr(const tVariant* V) {
    wchar_t* P;
    memcpy(&P, V->B, sizeof P);
    return P;
}
static uint32_t VarWLen(const tVariant* V) {
    uint32_t L;
    memcpy(&L, V->B + TV_LEN, 4);
    return L;
}
static void SetI4(tVariant* V, int32_t I) {
    memset(V, 0, sizeof *V);
    memcpy(V->B, &I, 4);
    uint16_t T = VT_I4_;
    memcpy(V->B + TV_VT, &T, 2);
}

/* ---- memory manager: slot 0 destructor, 1 AllocMemory, 2 FreeMemory ------ */

#define MAX_BLOCKS 8192
static struct {
    void* P;
    size_t Size;
    int Live;
} Blocks[MAX_BLOCKS];
static int BlockCount, BadFrees;

static int FindBlock(const void* P) {
    for (int I = BlockCount - 1; I >= 0; I--)
        if (Blocks[I].P == P && Blocks[I].Live)
            return I;
    return -1;
}

/* A slot the component must never reach: the destructor, or one past the
 * end of a table (what a vtable off by one slot would call). */
static void HOSTCALL WrongSlot(void* Self) {
    (void)Self;
    fprintf(stderr, "FAIL: the component called a host slot it has no business calling\n");
    fflush(stderr);
    ExitProcess(3);
}

static hbool HOSTCALL MemAlloc(void* Self, void** P, unsigned long Count) {
    (void)Self;
    if (!P || BlockCount == MAX_BLOCKS)
        return 0;
    *P = HeapAlloc(GetProcessHeap(), 0, Count ? Count : 1);
    if (!*P)
        return 0;
    Blocks[BlockCount].P = *P;
    Blocks[BlockCount].Size = Count;
    Blocks[BlockCount].Live = 1;
    BlockCount++;
    return 1;
}

static void HOSTCALL MemFree(void* Self, void** P) {
    (void)Self;
    if (!P || !*P)
        return;
    int I = FindBlock(*P);
    if (I < 0) {
        BadFrees++;
        return;
    }
    Blocks[I].Live = 0;
    HeapFree(GetProcessHeap(), 0, *P);
    *P = NULL;
}

static TAnyFn MemTable[] = {(TAnyFn)WrongSlot, (TAnyFn)MemAlloc, (TAnyFn)MemFree, (TAnyFn)WrongSlot};
static struct {
    TAnyFn* Vtbl;
} MemManager = {MemTable};

/* A string the component handed over: a live block of this manager, long
 * enough for its text and terminator. */
static int InHostMemory(const wchar_t* S, size_t Len) {
    int I = FindBlock(S);
    return S && I >= 0 && Blocks[I].Size >= (Len + 1) * sizeof(wchar_t) && S[Len] == 0;
}

static void HostFree(void* P) {
    void* Q = P;
    MemFree(NULL, &Q);
}

/* ---- connection (IAddInDefBase): 0 destructor, 1 AddError, 2 Read, 3 Write,
 * 4 RegisterProfileAs, 5 SetEventBufferDepth, 6 GetEventBufferDepth,
 * 7 ExternalEvent, 8 CleanEventBuffer, 9 SetStatusLine, 10 ResetStatusLine */

static int Errors, ErrorsOutsideHostMemory;
static hbool HOSTCALL ConnAddError(void* Self, unsigned short Code, const wchar_t* Source, const wchar_t* Descr,
                                   long SCode) {
    (void)Self, (void)Code, (void)Source, (void)SCode;
    Errors++;
    if (!Descr || !InHostMemory(Descr, wcslen(Descr)))
        ErrorsOutsideHostMemory++;
    return 1;
}
static hbool HOSTCALL ConnFalse4(void* S, void* A, void* B, void* C, void* D) {
    (void)S, (void)A, (void)B, (void)C, (void)D;
    return 0;
}
static hbool HOSTCALL ConnFalse2(void* S, void* A, void* B) {
    (void)S, (void)A, (void)B;
    return 0;
}
static hbool HOSTCALL ConnFalse1(void* S, void* A) {
    (void)S, (void)A;
    return 0;
}
static long HOSTCALL ConnZero(void* S) {
    (void)S;
    return 0;
}
static hbool HOSTCALL ConnFalse3(void* S, void* A, void* B, void* C) {
    (void)S, (void)A, (void)B, (void)C;
    return 0;
}
static void HOSTCALL ConnNothing(void* S) { (void)S; }

static TAnyFn ConnTable[] = {(TAnyFn)WrongSlot,  (TAnyFn)ConnAddError, (TAnyFn)ConnFalse4, (TAnyFn)ConnFalse2,
                            (TAnyFn)ConnFalse1, (TAnyFn)ConnFalse1,   (TAnyFn)ConnZero,   (TAnyFn)ConnFalse3,
                            (TAnyFn)ConnNothing, (TAnyFn)ConnFalse1,  (TAnyFn)ConnNothing, (TAnyFn)WrongSlot};
static struct {
    TAnyFn* Vtbl;
} Connection = {ConnTable};

/* ---- the component's interfaces, by slot -------------------------------- */

/* IInitDoneBase at offset 0 of the object */
typedef hbool(HOSTCALL* TInit)(void*, void*);
typedef hbool(HOSTCALL* TSetMemManager)(void*, void*);
typedef long(HOSTCALL* TGetInfo)(void*);
typedef void(HOSTCALL* TDone)(void*);
enum { SLOT_INIT = 1, SLOT_SETMEMMANAGER = 2, SLOT_GETINFO = 3, SLOT_DONE = 4 };

/* ILanguageExtenderBase at offset 1 pointer */
typedef hbool(HOSTCALL* TRegisterExtensionAs)(void*, wchar_t**);
typedef long(HOSTCALL* TGetCount)(void*);
typedef long(HOSTCALL* TFind)(void*, const wchar_t*);
typedef const wchar_t*(HOSTCALL* TGetName)(void*, long, long);
typedef hbool(HOSTCALL* TPropVal)(void*, long, tVariant*);
typedef hbool(HOSTCALL* TIndexFlag)(void*, long);
typedef long(HOSTCALL* TGetNParams)(void*, long);
typedef hbool(HOSTCALL* TGetParamDefValue)(void*, long, long, tVariant*);
typedef hbool(HOSTCALL* TCallAsProc)(void*, long, tVariant*, long);
typedef hbool(HOSTCALL* TCallAsFunc)(void*, long, tVariant*, tVariant*, long);
enum {
    SLOT_REGISTEREXTENSIONAS = 1,
    SLOT_GETNPROPS,
    SLOT_FINDPROP,
    SLOT_GETPROPNAME,
    SLOT_GETPROPVAL,
    SLOT_SETPROPVAL,
    SLOT_ISPROPREADABLE,
    SLOT_ISPROPWRITABLE,
    SLOT_GETNMETHODS,
    SLOT_FINDMETHOD,
    SLOT_GETMETHODNAME,
    SLOT_GETNPARAMS,
    SLOT_GETPARAMDEFVALUE,
    SLOT_HASRETVAL,
    SLOT_CALLASPROC,
    SLOT_CALLASFUNC
};

/* LocaleBase at offset 2 pointers */
typedef void(HOSTCALL* TSetLocale)(void*, const wchar_t*);
enum { SLOT_SETLOCALE = 1 };

static void* Iface(void* AObject, int AIndex) { return (char*)AObject + AIndex * sizeof(void*); }
static TAnyFn Slot(void* AIface, int ASlot) { return (*(TAnyFn**)AIface)[ASlot]; }

/* The exports, C linkage with the compiler's default convention. */
typedef const wchar_t* (*TGetClassNames)(void);
typedef long (*TGetClassObject)(const wchar_t*, void**);
typedef long (*TDestroyObject)(void**);
typedef int (*TGetAttachType)(void);

static void* Lang;

/* Text for the report: msvcrt's %ls stops at the first non-ASCII character. */
static const char* Utf8(const wchar_t* S) {
    static char Buf[4096];
    if (!S || !WideCharToMultiByte(CP_UTF8, 0, S, -1, Buf, sizeof Buf, NULL, NULL))
        return "(null)";
    return Buf;
}

static long Method(const wchar_t* AName) {
    long N = CALL(((TFind)Slot(Lang, SLOT_FINDMETHOD))(Lang, AName));
    if (N < 0)
        fprintf(stderr, "FAIL: no method %s\n", Utf8(AName)), Failures++;
    return N;
}

/* CallAsFunc with the given parameters; the result and every string
 * parameter that comes back must be host memory. Returns what the call
 * returned. */
static hbool CallFunc(long AMethod, tVariant* ARet, tVariant* AParams, long ACount) {
    memset(ARet, 0, sizeof *ARet);
    hbool R = CALL(((TCallAsFunc)Slot(Lang, SLOT_CALLASFUNC))(Lang, AMethod, ARet, AParams, ACount));
    for (long I = -1; I < ACount; I++) {
        tVariant* V = I < 0 ? ARet : &AParams[I];
        if (VarType(V) == VT_PWSTR_ && !InHostMemory(VarWStr(V), VarWLen(V)))
            Fail("a string from CallAsFunc is not a block of the host's memory manager");
    }
    return R;
}

/* A host-memory string value, as the platform passes one. */
static void SetWStr(tVariant* V, const wchar_t* S) {
    size_t L = wcslen(S);
    void* P = NULL;
    memset(V, 0, sizeof *V);
    MemAlloc(NULL, &P, (unsigned long)((L + 1) * sizeof(wchar_t)));
    memcpy(P, S, (L + 1) * sizeof(wchar_t));
    memcpy(V->B, &P, sizeof P);
    uint32_t L32 = (uint32_t)L;
    memcpy(V->B + TV_LEN, &L32, 4);
    uint16_t T = VT_PWSTR_;
    memcpy(V->B + TV_VT, &T, 2);
}
static void ClearVar(tVariant* V) {
    if (VarType(V) == VT_PWSTR_)
        HostFree(VarWStr(V));
    memset(V, 0, sizeof *V);
}

static int SetParameter(long AMethod, const wchar_t* AName, tVariant* AValue) {
    tVariant Ret, P[2];
    SetWStr(&P[0], AName);
    P[1] = *AValue;
    int Ok = CallFunc(AMethod, &Ret, P, 2) && VarType(&Ret) == VT_BOOL_ && Ret.B[0];
    ClearVar(&P[0]);
    ClearVar(&P[1]);
    ClearVar(&Ret);
    return Ok;
}

/* A TCP port on 127.0.0.1 where nothing listens: bound, then closed. */
static int FreePort(void) {
    WSADATA W;
    if (WSAStartup(MAKEWORD(2, 2), &W))
        return 9;
    SOCKET S = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in A;
    int Len = sizeof A;
    memset(&A, 0, sizeof A);
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int Port = 9;
    if (S != INVALID_SOCKET && !bind(S, (struct sockaddr*)&A, sizeof A) &&
        !getsockname(S, (struct sockaddr*)&A, &Len))
        Port = ntohs(A.sin_port);
    if (S != INVALID_SOCKET)
        closesocket(S);
    WSACleanup();
    return Port;
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: v8host DLL\n");
        return 2;
    }
    _Static_assert(sizeof(tVariant) == 48, "MSVC tVariant");
    _Static_assert(sizeof(long) == 4 && sizeof(wchar_t) == 2, "Windows data model");

    HMODULE Lib = LoadLibraryW(argv[1]);
    if (!Lib) {
        fprintf(stderr, "FAIL: LoadLibraryW: error %lu\n", GetLastError());
        return 1;
    }
    TGetClassNames GetClassNames = (TGetClassNames)(TAnyFn)GetProcAddress(Lib, "GetClassNames");
    TGetClassObject GetClassObject = (TGetClassObject)(TAnyFn)GetProcAddress(Lib, "GetClassObject");
    TDestroyObject DestroyObject = (TDestroyObject)(TAnyFn)GetProcAddress(Lib, "DestroyObject");
    TGetAttachType GetAttachType = (TGetAttachType)(TAnyFn)GetProcAddress(Lib, "GetAttachType");
    if (!GetClassNames || !GetClassObject || !DestroyObject || !GetAttachType) {
        fprintf(stderr, "FAIL: the DLL lacks one of the four exports\n");
        return 1;
    }

    const wchar_t* Names = CALL(GetClassNames());
    CHECK(Names && wcscmp(Names, L"fr_orvalen1c8x3n") == 0);
    CHECK(CALL(GetAttachType()) == 3);
    void* Object = NULL;
    CHECK(CALL(GetClassObject(L"FR_ORVALEN1C8X3N", &Object)) == 0 && Object == NULL);
    if (CALL(GetClassObject(L"fr_orvalen1c8x3n", &Object)) != 1 || !Object) {
        fprintf(stderr, "FAIL: GetClassObject\n");
        return 1;
    }
    void* Init = Iface(Object, 0);
    Lang = Iface(Object, 1);
    void* Locale = Iface(Object, 2);

    CHECK(CALL(((TInit)Slot(Init, SLOT_INIT))(Init, &Connection)));
    CHECK(CALL(((TSetMemManager)Slot(Init, SLOT_SETMEMMANAGER))(Init, &MemManager)));
    CHECK(CALL(((TGetInfo)Slot(Init, SLOT_GETINFO))(Init)) == 2000);
    CALLV(((TSetLocale)Slot(Locale, SLOT_SETLOCALE))(Locale, L"ru_RU"));

    wchar_t* Ext = NULL;
    CHECK(CALL(((TRegisterExtensionAs)Slot(Lang, SLOT_REGISTEREXTENSIONAS))(Lang, &Ext)));
    CHECK(Ext && *Ext && InHostMemory(Ext, wcslen(Ext)));
    HostFree(Ext);

    /* Every method and property name, in both languages, comes back as a
     * fresh host block and finds its own index again. */
    long NMethods = CALL(((TGetCount)Slot(Lang, SLOT_GETNMETHODS))(Lang));
    long NProps = CALL(((TGetCount)Slot(Lang, SLOT_GETNPROPS))(Lang));
    CHECK(NMethods > 20 && NProps > 20);
    for (long I = 0; I < NMethods; I++)
        for (long Alias = 0; Alias < 2; Alias++) {
            const wchar_t* N = CALL(((TGetName)Slot(Lang, SLOT_GETMETHODNAME))(Lang, I, Alias));
            if (!N || !InHostMemory(N, wcslen(N))) {
                Fail("a method name is not a block of the host's memory manager");
                continue;
            }
            /* A name declared twice (GetInterfaceRevision) finds the lower
             * index; that entry carries the same name. */
            long J = CALL(((TFind)Slot(Lang, SLOT_FINDMETHOD))(Lang, N));
            const wchar_t* M = J >= 0 && J <= I ? CALL(((TGetName)Slot(Lang, SLOT_GETMETHODNAME))(Lang, J, Alias)) : NULL;
            if (!M || wcscmp(M, N) != 0)
                fprintf(stderr, "FAIL: FindMethod(%s) gives %ld for method %ld\n", Utf8(N), J, I), Failures++;
            HostFree((void*)M);
            HostFree((void*)N);
        }
    for (long I = 0; I < NProps; I++) {
        const wchar_t* N = CALL(((TGetName)Slot(Lang, SLOT_GETPROPNAME))(Lang, I, 0));
        if (!N || !InHostMemory(N, wcslen(N))) {
            Fail("a property name is not a block of the host's memory manager");
            continue;
        }
        CHECK(CALL(((TFind)Slot(Lang, SLOT_FINDPROP))(Lang, N)) == I);
        CHECK(CALL(((TIndexFlag)Slot(Lang, SLOT_ISPROPREADABLE))(Lang, I)));
        CHECK(CALL(((TIndexFlag)Slot(Lang, SLOT_ISPROPWRITABLE))(Lang, I)));
        HostFree((void*)N);
    }
    CHECK(CALL(((TFind)Slot(Lang, SLOT_FINDMETHOD))(Lang, L"open")) == -1);
    CHECK(Method(L"Подключить") == Method(L"Open"));

    tVariant Ret, P[2];
    long Revision = Method(L"GetInterfaceRevision");
    CHECK(CALL(((TGetNParams)Slot(Lang, SLOT_GETNPARAMS))(Lang, Revision)) == 0);
    CHECK(CALL(((TIndexFlag)Slot(Lang, SLOT_HASRETVAL))(Lang, Revision)));
    CHECK(!CALL(((TGetParamDefValue)Slot(Lang, SLOT_GETPARAMDEFVALUE))(Lang, Revision, 0, &Ret)));
    CHECK(CallFunc(Revision, &Ret, NULL, 0));
    CHECK(VarType(&Ret) == VT_I4_ && VarI4(&Ret) == 3004);

    long Description = Method(L"GetDescription");
    CHECK(CALL(((TGetNParams)Slot(Lang, SLOT_GETNPARAMS))(Lang, Description)) == 1);
    memset(P, 0, sizeof P);
    CHECK(CallFunc(Description, &Ret, P, 1) && VarType(&Ret) == VT_BOOL_ && Ret.B[0]);
    CHECK(VarType(&P[0]) == VT_PWSTR_ && wcsstr(VarWStr(&P[0]), L"<DriverDescription") != NULL);
    CHECK(VarType(&P[0]) == VT_PWSTR_ && wcsstr(VarWStr(&P[0]), L"\"ККТ\"") != NULL);
    /* The log folder as Windows writes paths, ending in its own separator. */
    CHECK(VarType(&P[0]) == VT_PWSTR_ && wcsstr(VarWStr(&P[0]), L"\\Velmark\\fr_orvalen1c8x3n\\logs\\\"") != NULL);
    ClearVar(&P[0]);

    long Parameters = Method(L"GetParameters");
    memset(P, 0, sizeof P);
    CHECK(CallFunc(Parameters, &Ret, P, 1) && VarType(&Ret) == VT_BOOL_ && Ret.B[0]);
    CHECK(VarType(&P[0]) == VT_PWSTR_ && wcsstr(VarWStr(&P[0]), L"<Settings") != NULL);
    ClearVar(&P[0]);

    /* A session to 127.0.0.1 on a port where nothing listens: the call
     * itself succeeds, its result is false, and GetLastError tells why. */
    long SetParam = Method(L"SetParameter");
    tVariant V;
    SetI4(&V, 9999);
    CHECK(SetParameter(SetParam, L"PortNumber", &V));
    SetWStr(&V, L"127.0.0.1");
    CHECK(SetParameter(SetParam, L"IPAddress", &V));
    SetI4(&V, FreePort());
    CHECK(SetParameter(SetParam, L"IPPort", &V));
    SetWStr(&V, L"1");
    CHECK(!SetParameter(SetParam, L"NoSuchSetting", &V));

    long Open = Method(L"Open");
    memset(P, 0, sizeof P);
    CHECK(CallFunc(Open, &Ret, P, 1));
    CHECK(VarType(&Ret) == VT_BOOL_ && !Ret.B[0]);
    ClearVar(&P[0]);
    long LastError = Method(L"GetLastError");
    memset(P, 0, sizeof P);
    CHECK(CallFunc(LastError, &Ret, P, 1));
    CHECK(VarType(&Ret) == VT_I4_ && VarI4(&Ret) != 0);
    CHECK(VarType(&P[0]) == VT_PWSTR_ && VarWLen(&P[0]) > 0);
    if (VarType(&P[0]) == VT_PWSTR_)
        printf("Open on a closed port: %d %s\n", (int)VarI4(&Ret), Utf8(VarWStr(&P[0])));
    ClearVar(&P[0]);

    CALLV(((TDone)Slot(Init, SLOT_DONE))(Init));
    CHECK(CALL(DestroyObject(&Object)) == 0);
    CHECK(ErrorsOutsideHostMemory == 0);
    CHECK(BadFrees == 0);
    FreeLibrary(Lib);

    printf("%s: %ld methods, %ld properties, %d failures\n", sizeof(void*) == 8 ? "x86-64" : "x86", NMethods,
           NProps, Failures);
    return Failures ? 1 : 0;
}
