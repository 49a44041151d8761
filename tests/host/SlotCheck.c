/* Calls the shipped DLL the way an MSVC-built host does: exports found by
 * name, every driver operation reached through its vtable slot index (on
 * i686 with thiscall), and the host objects handed to the driver built here
 * as plain C vtables, so a layout or calling-convention mistake on either
 * side shows up as a failed check rather than a lucky pass. */
#include "host/SlotCheck.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#if defined(__i386__)
#define THISCALL __attribute__((thiscall))
#else
#define THISCALL
#endif

typedef void* (*FactoryFn)(void);
typedef void (*DeleteFn)(void*);

typedef void* (THISCALL *Fn_ptr)(void*);
typedef void* (THISCALL *Fn_ptr_u)(void*, unsigned);
typedef int (THISCALL *Fn_int)(void*);
typedef unsigned char (THISCALL *Fn_bool)(void*);
typedef unsigned char (THISCALL *Fn_bool_open)(void*, void*, void*, void*);
typedef void (THISCALL *Fn_void)(void*);
typedef unsigned (THISCALL *Fn_uint)(void*);
typedef unsigned char (THISCALL *Fn_bool_state)(void*, unsigned, int*, int*, char*, unsigned);
typedef unsigned char (THISCALL *Fn_bool_u)(void*, unsigned);
typedef unsigned char (THISCALL *Fn_bool_3u)(void*, unsigned, unsigned, unsigned);
typedef unsigned char (THISCALL *Fn_bool_ucb)(void*, unsigned, void*, void*);
typedef unsigned char (*Fn_level)(void*);

static void** Vtbl(void* object) { return *(void***)object; }

/* ---- host objects in C ---------------------------------------------- */

typedef struct { void** vtbl; } Object;

static char g_lastText[1024];
static int g_lastLevel = -1;
static int g_lines = 0;

static void* THISCALL HostDtor(void* self, unsigned flags) { (void)flags; return self; }
static void THISCALL Filler(void* self) { (void)self; }

static void THISCALL Sink_OnDebugMessage(void* self, void* info) {
    typedef unsigned char (THISCALL *GetLevelFn)(void*);
    typedef const char* (THISCALL *GetTextFn)(void*);
    const char* text;
    (void)self;
    g_lastLevel = ((GetLevelFn)Vtbl(info)[1])(info);
    text = ((GetTextFn)Vtbl(info)[2])(info);
    snprintf(g_lastText, sizeof g_lastText, "%s", text ? text : "");
    g_lines++;
}
static void* g_sinkVtbl[] = {(void*)HostDtor, (void*)Sink_OnDebugMessage};
static Object g_sink = {g_sinkVtbl};

static const char* THISCALL Desc_Model(void* self) { (void)self; return "Model %d"; }
static unsigned THISCALL Desc_Channels(void* self) { (void)self; return 1; }
static unsigned THISCALL Desc_Inputs(void* self) { (void)self; return 2; }
static unsigned THISCALL Desc_Outputs(void* self) { (void)self; return 3; }
static void* g_descVtbl[] = {(void*)HostDtor, (void*)Filler, (void*)Desc_Model, (void*)Desc_Channels,
                             (void*)Filler, (void*)Desc_Inputs, (void*)Desc_Outputs};
static Object g_desc = {g_descVtbl};

static const char* THISCALL Conn_Address(void* self) { (void)self; return "127.0.0.1"; }
static unsigned short THISCALL Conn_Port(void* self) { (void)self; return 8081; }
static int THISCALL Conn_Format(void* self) { (void)self; return 1; }
static const char* THISCALL Conn_User(void* self) { (void)self; return ""; }
static const char* THISCALL Conn_Password(void* self) { (void)self; return ""; }
static void* g_connVtbl[] = {(void*)HostDtor, (void*)Conn_Address, (void*)Conn_Port, (void*)Filler,
                             (void*)Conn_Format, (void*)Conn_User, (void*)Conn_Password};
static Object g_conn = {g_connVtbl};

static const char* g_params[3] = {"1", "fw%s", NULL};
static void* THISCALL Cfg_Desc(void* self) { (void)self; return &g_desc; }
static void* THISCALL Cfg_Conn(void* self) { (void)self; return &g_conn; }
static const char* THISCALL Cfg_Param(void* self, int index) {
    (void)self;
    return (index >= 1 && index <= 2) ? g_params[index - 1] : NULL;
}
static void* g_cfgVtbl[] = {(void*)HostDtor, (void*)Cfg_Desc, (void*)Cfg_Conn, (void*)Filler, (void*)Cfg_Param};
static Object g_cfg = {g_cfgVtbl};

/* ---- the check ------------------------------------------------------- */

#define CHECK(cond, what)                                                        \
    do {                                                                         \
        if (!(cond)) {                                                           \
            failures++;                                                          \
            if (report && used < reportSize)                                     \
                used += snprintf(report + used, (size_t)(reportSize - used),      \
                                 "FAILED: %s\n", what);                          \
        }                                                                        \
    } while (0)

int halvencap_slot_check(const char* dllPath, char* report, int reportSize) {
    int failures = 0;
    int used = 0;
    HMODULE dll;
    FactoryFn create[4];
    DeleteFn del[5];
    const char* createNames[4] = {"CreateIPCapture", "CreateIPCaptureEx", "CreateIPCaptureEx2", "CreateIPCaptureEx3"};
    const char* deleteNames[5] = {"DeleteIPCapture", "DeleteIPCaptureEx", "DeleteIPCaptureEx2", "DeleteIPCaptureEx3",
                                  "DeleteCapabilityQueryModule"};
    void *a, *b, *vc, *io;
    int i, state, error;
    char text[16];

    if (report && reportSize > 0) report[0] = 0;
    dll = LoadLibraryA(dllPath);
    CHECK(dll != NULL, "LoadLibrary");
    if (!dll) return failures;

    for (i = 0; i < 4; i++) {
        create[i] = (FactoryFn)(void*)GetProcAddress(dll, createNames[i]);
        CHECK(create[i] != NULL, createNames[i]);
    }
    for (i = 0; i < 5; i++) {
        del[i] = (DeleteFn)(void*)GetProcAddress(dll, deleteNames[i]);
        CHECK(del[i] != NULL, deleteNames[i]);
    }
    if (failures) { FreeLibrary(dll); return failures; }
    CHECK(create[0] == create[3] && del[0] == del[4], "aliases point at one function");

    del[0](NULL);

    a = create[3]();
    b = create[0]();
    CHECK(a && b && a != b, "two distinct drivers");

    /* Reserved slots answer 0 before open; video capture is null. */
    CHECK(((Fn_int)Vtbl(a)[5])(a) == 0, "slot 5 GetReservedA");
    CHECK(((Fn_ptr)Vtbl(a)[6])(a) == NULL, "slot 6 GetAuxObject");
    CHECK(((Fn_int)Vtbl(a)[7])(a) == 0, "slot 7 GetReservedB");
    CHECK(((Fn_ptr)Vtbl(a)[9])(a) == NULL, "slot 9 GetAuxObjectEx");
    CHECK(((Fn_int)Vtbl(a)[10])(a) == 0, "slot 10 GetReservedC");
    CHECK(((Fn_int)Vtbl(a)[11])(a) == 0, "slot 11 GetReservedD");
    CHECK(((Fn_int)Vtbl(a)[12])(a) == 0, "slot 12 GetReservedE");
    CHECK(((Fn_ptr)Vtbl(a)[3])(a) == NULL, "slot 3 GetVideoCapture before open");

    /* Open through slot 1 with the C host objects. */
    CHECK(((Fn_bool_open)Vtbl(a)[1])(a, &g_sink, NULL, &g_cfg) != 0, "slot 1 Open");
    CHECK(strcmp(g_lastText, "DRIVER IS OPENED (name: Halvencap, device model: Model %d, FW: fw%s, "
                             "address: 127.0.0.1:8081)") == 0, "opened line text through the debug record slots");
    CHECK(g_lastLevel == 3 || g_lastLevel == 100 || g_lastLevel == 2, "opened line level");

    vc = ((Fn_ptr)Vtbl(a)[3])(a);
    CHECK(vc != NULL, "slot 3 GetVideoCapture after open");
    CHECK(((Fn_ptr)Vtbl(a)[8])(a) == vc, "slot 8 GetVideoCaptureEx is the same object");
    if (vc) {
        CHECK(((Fn_uint)Vtbl(vc)[1])(vc) == 1, "video capture slot 1 GetChannelCount");
        CHECK(((Fn_int)Vtbl(vc)[5])(vc) == 0, "video capture slot 5");
        state = 77; error = 5; strcpy(text, "junk");
        CHECK(((Fn_bool_state)Vtbl(vc)[6])(vc, 0, &state, &error, text, sizeof text) == 0,
              "video capture slot 6 GetChannelState on an empty entry");
        CHECK(state == 77 && error == 0 && text[0] == 0, "state untouched, error and text cleared");
        CHECK(((Fn_bool_3u)Vtbl(vc)[7])(vc, 1, 2, 3) == 0, "video capture slot 7");
        CHECK(((Fn_bool_3u)Vtbl(vc)[8])(vc, 1, 2, 3) == 0, "video capture slot 8");
        CHECK(((Fn_bool_u)Vtbl(vc)[3])(vc, 0) == 0, "video capture slot 3 StopChannel on an empty entry");
        CHECK(((Fn_bool_u)Vtbl(vc)[9])(vc, 0) == 0, "video capture slot 9");
        CHECK(((Fn_bool_u)Vtbl(vc)[10])(vc, 0) == 0, "video capture slot 10");
        CHECK(((Fn_bool_ucb)Vtbl(vc)[2])(vc, 1, NULL, NULL) == 0, "video capture slot 2 StartChannel beyond the table");
    }
    io = ((Fn_ptr)Vtbl(a)[4])(a);
    CHECK(io != NULL, "slot 4 GetIOApi after open");
    if (io) {
        CHECK(((Fn_uint)Vtbl(io)[4])(io) == 2, "I/O slot 4 GetInputCount");
        CHECK(((Fn_uint)Vtbl(io)[5])(io) == 3, "I/O slot 5 GetOutputCount");
    }

    /* Close through slot 2, delete an opened driver directly. */
    ((Fn_void)Vtbl(b)[2])(b);
    CHECK(((Fn_ptr)Vtbl(b)[3])(b) == NULL, "closed driver has no video capture");
    del[3](b);
    del[1](a);

    /* The deleting destructor in slot 0 with flags 1 frees; reachable as such. */
    a = create[2]();
    CHECK(a != NULL, "create after delete");
    if (a) ((Fn_ptr_u)Vtbl(a)[0])(a, 1);

    FreeLibrary(dll);
    return failures;
}

/* ---- capability query: host result object and callback in C ---------- */

typedef struct {
    void** vtbl;
    char name[16];
} CapItem;

static char g_trace[4096];
static int g_traceUsed = 0;
static CapItem g_capItems[16];
static int g_capItemCount = 0;
static int g_intervalKind = -1;
static HANDLE g_capDone = NULL;
static int g_capCompleted = 0;
static int g_capFailed = 0;
static int g_capTerminated = 0;
static int g_capCode = -1;
static char g_capMessage[256];

static void TraceLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (g_traceUsed < (int)sizeof g_trace) {
        int n = vsnprintf(g_trace + g_traceUsed, sizeof g_trace - (size_t)g_traceUsed, format, args);
        if (n > 0) g_traceUsed += n;
        if (g_traceUsed < (int)sizeof g_trace - 1) g_trace[g_traceUsed++] = '\n';
        g_trace[g_traceUsed < (int)sizeof g_trace ? g_traceUsed : (int)sizeof g_trace - 1] = 0;
    }
    va_end(args);
}

static void THISCALL Item_SetText(void* self, const char* text) { TraceLine("%s text %s", ((CapItem*)self)->name, text); }
static void THISCALL Item_SetFlag(void* self, int v) { TraceLine("%s flag %d", ((CapItem*)self)->name, v); }
static void THISCALL Item_SetName(void* self, const char* text) { TraceLine("%s name %s", ((CapItem*)self)->name, text); }
static void THISCALL Item_SetOption(void* self, int v) { TraceLine("%s option %d", ((CapItem*)self)->name, v); }
static void* g_itemVtbl[] = {(void*)HostDtor, (void*)Item_SetText, (void*)Filler, (void*)Filler,
                             (void*)Item_SetFlag, (void*)Item_SetName, (void*)Item_SetOption};

static void* NewItem(const char* kind, int id) {
    CapItem* item;
    if (g_capItemCount >= 16) return NULL;
    item = &g_capItems[g_capItemCount++];
    item->vtbl = g_itemVtbl;
    snprintf(item->name, sizeof item->name, "%s%d", kind, id);
    return item;
}

static void THISCALL Sizes_Add(void* self, const char* text, unsigned w, unsigned h, unsigned ms) {
    (void)self;
    TraceLine("size %s %u %u %u", text, w, h, ms);
}
static void* g_sizesVtbl[] = {(void*)HostDtor, (void*)Sizes_Add};
static Object g_sizes = {g_sizesVtbl};

static void THISCALL Intervals_SetDefault(void* self, unsigned ms) { (void)self; TraceLine("default %u", ms); }
static void THISCALL Intervals_Add(void* self, unsigned ms) { (void)self; TraceLine("interval %u", ms); }
static void* g_intervalsVtbl[] = {(void*)HostDtor, (void*)Intervals_SetDefault, (void*)Intervals_Add};
static Object g_intervals = {g_intervalsVtbl};

static void THISCALL Results_SetItem(void* self, int id, int value) { (void)self; TraceLine("item %d=%d", id, value); }
static void THISCALL Results_SetName(void* self, const char* text) { (void)self; TraceLine("name %s", text); }
static void* THISCALL Results_Field(void* self, int index) { (void)self; return NewItem("field", index); }
static void* THISCALL Results_Group(void* self, int id) { (void)self; return NewItem("group", id); }
static void* THISCALL Results_Sizes(void* self) { (void)self; return &g_sizes; }
static void* THISCALL Results_Intervals(void* self, int kind) { (void)self; g_intervalKind = kind; return &g_intervals; }
static void* g_resultsVtbl[] = {(void*)HostDtor, (void*)Results_SetItem, (void*)Results_SetName, (void*)Results_Field,
                                (void*)Filler, (void*)Results_Group, (void*)Results_Sizes, (void*)Filler,
                                (void*)Results_Intervals};
static Object g_results = {g_resultsVtbl};

static void THISCALL Cb_Completed(void* self) { (void)self; g_capCompleted++; SetEvent(g_capDone); }
static void THISCALL Cb_Failed(void* self, int code, const char* message) {
    (void)self;
    g_capFailed++;
    g_capCode = code;
    snprintf(g_capMessage, sizeof g_capMessage, "%s", message ? message : "(null)");
    SetEvent(g_capDone);
}
static void THISCALL Cb_Terminated(void* self) { (void)self; g_capTerminated++; }
static void* g_callbackVtbl[] = {(void*)HostDtor, (void*)Filler, (void*)Cb_Completed, (void*)Cb_Failed,
                                 (void*)Cb_Terminated};
static Object g_callback = {g_callbackVtbl};

static void ResetCapability(void) {
    g_trace[0] = 0;
    g_traceUsed = 0;
    g_capItemCount = 0;
    g_intervalKind = -1;
    g_capCompleted = g_capFailed = g_capTerminated = 0;
    g_capCode = -1;
    g_capMessage[0] = 0;
    ResetEvent(g_capDone);
}

typedef void* (*CreateQueryFn)(void*, unsigned);
typedef int (*InitQueryFn)(void*, unsigned);
typedef int (*StartQueryFn)(const char*, unsigned, const char*, const char*, void*);
typedef int (*PlainQueryFn)(void);
typedef int (THISCALL *Fn_start)(void*, const char*, unsigned, const char*, const char*, void*);

static const char* const kExpectedTraceFormat =
    "name Basler BIP2-1280c-dn\n"
    "field1 text 127.0.0.1\nfield2 text %u\nfield3 text \nfield4 text \n"
    "item 8=1\nitem 6=1\nitem 7=1\nitem 0=1\n"
    "size 1280x1024 1280 1024 33\nsize 1280x720 1280 720 33\nsize 640x480 640 480 33\n"
    "interval 200\ninterval 143\ninterval 100\ninterval 67\ninterval 40\ninterval 33\ndefault 67\n"
    "item 11=0\nitem 12=0\nitem 2=2\nitem 3=2\n"
    "group1 name KOVA Video Standard\ngroup1 option 0\ngroup1 flag 0\ngroup1 text 0\n"
    "group2 name Device Firmware Version\ngroup2 option 0\ngroup2 flag 1\ngroup2 text 3.6.2\n"
    "group3 name Sensor AOI Configuration\ngroup3 option 0\ngroup3 flag 1\ngroup3 text 0,0,1280,1024\n"
    "group4 name Digital I/O Configuration\ngroup4 option 0\ngroup4 flag 1\ngroup4 text input=0,1; output=2,3\n";

int halvencap_capability_slot_check(const char* dllPath, unsigned short cameraPort, char* report, int reportSize) {
    int failures = 0;
    int used = 0;
    HMODULE dll;
    CreateQueryFn create;
    DeleteFn del, delDriver;
    InitQueryFn init;
    StartQueryFn start;
    PlainQueryFn uninit, terminate;
    void* query;
    char expected[2048];

    if (report && reportSize > 0) report[0] = 0;
    dll = LoadLibraryA(dllPath);
    CHECK(dll != NULL, "LoadLibrary");
    if (!dll) return failures;
    create = (CreateQueryFn)(void*)GetProcAddress(dll, "CreateCapabilityQueryModule");
    del = (DeleteFn)(void*)GetProcAddress(dll, "DeleteCapabilityQueryModule");
    delDriver = (DeleteFn)(void*)GetProcAddress(dll, "DeleteIPCapture");
    init = (InitQueryFn)(void*)GetProcAddress(dll, "InitCapabilityQuery");
    start = (StartQueryFn)(void*)GetProcAddress(dll, "StartCapabilityQuery");
    uninit = (PlainQueryFn)(void*)GetProcAddress(dll, "UninitCapabilityQuery");
    terminate = (PlainQueryFn)(void*)GetProcAddress(dll, "TerminateCapabilityQuery");
    CHECK(create && del && init && start && uninit && terminate, "capability query exports");
    if (failures) { FreeLibrary(dll); return failures; }
    CHECK(del == delDriver, "DeleteCapabilityQueryModule is the driver delete");
    g_capDone = CreateEventA(NULL, TRUE, FALSE, NULL);

    /* Slot 1 Start with an address holding a port: refused on the probe
     * thread through callback slot 3, nothing sent; slot 2 Terminate. */
    ResetCapability();
    query = create(&g_callback, 1);
    CHECK(query != NULL, "CreateCapabilityQueryModule");
    if (query) {
        CHECK(((Fn_start)Vtbl(query)[1])(query, "127.0.0.1:80", 80, "", "", &g_results) == 1, "query slot 1 Start");
        CHECK(WaitForSingleObject(g_capDone, 30000) == WAIT_OBJECT_0, "callback reached");
        CHECK(g_capFailed == 1 && g_capCode == 0, "callback slot 3 OnFailed with code 0");
        CHECK(strcmp(g_capMessage, "Failed to start capability fetching thread. Device address is invalid!") == 0,
              "invalid address message");
        CHECK(((Fn_start)Vtbl(query)[1])(query, "127.0.0.1", 80, "", "", &g_results) == 0, "second Start refused");
        ((Fn_void)Vtbl(query)[2])(query);
        del(query);
        CHECK(g_traceUsed == 0 && g_capTerminated == 0, "nothing written, nothing killed");
    }

    /* The plain functions: a null result object is an internal error. */
    ResetCapability();
    CHECK(init(&g_callback, 0) == 1, "InitCapabilityQuery");
    CHECK(init(&g_callback, 0) == 0, "InitCapabilityQuery twice");
    CHECK(start("127.0.0.1", 80, "", NULL, &g_results) == 0, "StartCapabilityQuery with a null password");
    CHECK(start("127.0.0.1", cameraPort ? cameraPort : 80, "", "", NULL) == 1, "StartCapabilityQuery");
    CHECK(WaitForSingleObject(g_capDone, 30000) == WAIT_OBJECT_0, "plain query callback reached");
    CHECK(g_capFailed == 1 && g_capCode == 3 &&
              strcmp(g_capMessage, "Failed to start capability fetching thread. Internal error occurs") == 0,
          "null results: code 3, internal error");
    CHECK(terminate() == 1, "TerminateCapabilityQuery");
    CHECK(uninit() == 1, "UninitCapabilityQuery");
    CHECK(start("127.0.0.1", 80, "", "", &g_results) == 0, "StartCapabilityQuery after Uninit");

    /* A full probe: every slot of the result object, items and lists. */
    if (cameraPort != 0) {
        ResetCapability();
        query = create(&g_callback, 0x100);
        if (query) {
            CHECK(((Fn_start)Vtbl(query)[1])(query, "127.0.0.1", 0x50000u | cameraPort, "", "", &g_results) == 1,
                  "probe started (port from the low 16 bits)");
            CHECK(WaitForSingleObject(g_capDone, 30000) == WAIT_OBJECT_0, "probe ended");
            CHECK(g_capCompleted == 1 && g_capFailed == 0, "callback slot 2 OnCompleted");
            snprintf(expected, sizeof expected, kExpectedTraceFormat, (unsigned)cameraPort);
            CHECK(strcmp(g_trace, expected) == 0, "result trace through the host slots");
            if (strcmp(g_trace, expected) != 0 && report && used < reportSize)
                used += snprintf(report + used, (size_t)(reportSize - used), "trace:\n%s", g_trace);
            CHECK(g_intervalKind == 1, "frame interval list of kind 1");
            ((Fn_ptr_u)Vtbl(query)[0])(query, 1);
        }
    }

    CloseHandle(g_capDone);
    g_capDone = NULL;
    FreeLibrary(dll);
    return failures;
}
