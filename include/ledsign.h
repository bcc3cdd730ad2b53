/*
 * Host-facing interface of the LED-sign driver plug-ins (one library per sign model).
 *
 * A host loads one plug-in, resolves the nine functions below by name and calls them on
 * one thread at a time. Every plug-in exports the same nine functions, cdecl, with
 * undecorated names and ordinals 1..9 in alphabetical order of name.
 */
#ifndef LEDSIGN_H
#define LEDSIGN_H

#include <stdint.h>

#if defined(_WIN32)
#define LEDSIGN_CALL __cdecl
#else
#define LEDSIGN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* Line settings handed to InitLed. 42 bytes, byte-packed; owned by the host. */
typedef struct PortSettings {
    char portName[10];   /* NUL-terminated, e.g. "COM1"; at most 9 characters */
    int32_t baudRate;    /* e.g. 2400 */
    int32_t dataBits;    /* 5..8; only the low byte counts */
    int32_t stopBits;    /* 2 means two stop bits, anything else one */
    char parityWord[20]; /* "NONE"/"none"/"None", "EVEN"/"even", "ODD"/"odd" */
} PortSettings;

/* Sign attributes filled by GetLEDAtt. The driver writes the listed fields only;
 * each text is written up to and including its NUL, the rest is left as the host left it. */
typedef struct LEDAtt {
    int32_t dots;         /* dot-matrix height of the sign: 32, 24 or 16 */
    int32_t rowChars;     /* row capacity in single-byte characters */
    int32_t rowWideChars; /* row capacity in double-byte (GBK) characters */
    int32_t twoRows;      /* 1 = two rows, 0 = one row */
    char commText[128];   /* default line settings, e.g. "2400,8,NONE,1" */
    char vendor[512];     /* vendor label, GBK */
    char vendorCopy[512]; /* the same label again; the driver writes at most 9 bytes here */
} LEDAtt;

#pragma pack(pop)

/* The layout checks: C11 and C++11 have their own static assertion; older levels (C89, C99,
 * C++98) get a file-scope array type whose size turns negative when a check fails. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define LEDSIGN_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define LEDSIGN_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#define LEDSIGN_JOIN_(a, b) a##b
#define LEDSIGN_JOIN(a, b) LEDSIGN_JOIN_(a, b)
#define LEDSIGN_STATIC_ASSERT(cond, msg) typedef char LEDSIGN_JOIN(ledsign_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif

#include <stddef.h>
LEDSIGN_STATIC_ASSERT(sizeof(PortSettings) == 42, "PortSettings is 42 bytes");
LEDSIGN_STATIC_ASSERT(offsetof(PortSettings, baudRate) == 10, "PortSettings.baudRate at 10");
LEDSIGN_STATIC_ASSERT(offsetof(PortSettings, dataBits) == 14, "PortSettings.dataBits at 14");
LEDSIGN_STATIC_ASSERT(offsetof(PortSettings, stopBits) == 18, "PortSettings.stopBits at 18");
LEDSIGN_STATIC_ASSERT(offsetof(PortSettings, parityWord) == 22, "PortSettings.parityWord at 22");
LEDSIGN_STATIC_ASSERT(offsetof(LEDAtt, rowChars) == 4, "LEDAtt.rowChars at 4");
LEDSIGN_STATIC_ASSERT(offsetof(LEDAtt, rowWideChars) == 8, "LEDAtt.rowWideChars at 8");
LEDSIGN_STATIC_ASSERT(offsetof(LEDAtt, twoRows) == 12, "LEDAtt.twoRows at 12");
LEDSIGN_STATIC_ASSERT(offsetof(LEDAtt, commText) == 16, "LEDAtt.commText at 16");
LEDSIGN_STATIC_ASSERT(offsetof(LEDAtt, vendor) == 144, "LEDAtt.vendor at 144");
LEDSIGN_STATIC_ASSERT(offsetof(LEDAtt, vendorCopy) == 656, "LEDAtt.vendorCopy at 656");

/* Results: OpenLed 1 = open, -1 = the port could not be opened, -2 = line settings refused.
 * Write2Led / ClearLed 1 = sent, -1 = a write failed (or a null text). GetLEDAtt 1, or -1
 * for a null record. IsLedOpened 1 = open, 0 = closed. GetVer 3.0. */
typedef void(LEDSIGN_CALL *InitLedFn)(const PortSettings *settings);
typedef int32_t(LEDSIGN_CALL *OpenLedFn)(void);
typedef void(LEDSIGN_CALL *CloseLedFn)(void);
typedef int32_t(LEDSIGN_CALL *IsLedOpenedFn)(void);
typedef int32_t(LEDSIGN_CALL *Write2LedFn)(const char *text);
typedef int32_t(LEDSIGN_CALL *ClearLedFn)(void);
typedef void(LEDSIGN_CALL *SetShowModeFn)(unsigned char mode);
typedef int32_t(LEDSIGN_CALL *GetLEDAttFn)(LEDAtt *attributes);
typedef float(LEDSIGN_CALL *GetVerFn)(void);

#ifdef LEDSIGN_DECLARE_EXPORTS
void LEDSIGN_CALL InitLed(const PortSettings *settings);
int32_t LEDSIGN_CALL OpenLed(void);
void LEDSIGN_CALL CloseLed(void);
int32_t LEDSIGN_CALL IsLedOpened(void);
int32_t LEDSIGN_CALL Write2Led(const char *text);
int32_t LEDSIGN_CALL ClearLed(void);
void LEDSIGN_CALL SetShowMode(unsigned char mode);
int32_t LEDSIGN_CALL GetLEDAtt(LEDAtt *attributes);
float LEDSIGN_CALL GetVer(void);
#endif

#ifdef __cplusplus
}
#endif

#endif /* LEDSIGN_H */
