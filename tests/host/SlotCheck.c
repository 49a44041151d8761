/* Calls the shipped DLL the way an MSVC-built host does: exports found by
 * name, every driver operation reached through its vtable slot index (on
 * i686 with thiscall), and the host objects handed to the driver built here
 * as plain C vtables, so a layout or calling-convention mistake on either
 * side shows up as a failed check rather than a lucky pass. */
#include "host/SlotCheck.h"

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
