// winhost: a minimal Windows host for the plug-in DLLs, run under Wine by the end-to-end tests.
// It loads one DLL by path, resolves the nine exports by name and by ordinal, and runs the
// steps given on its command line through cdecl function pointers, one result line per step.
//
//   winhost DLL STEP...
//
//   init PORT BAUD DATA STOP PARITY   InitLed with a record          -> "init"
//   init-null                         InitLed(NULL)                  -> "init-null"
//   open | isopen                     OpenLed / IsLedOpened          -> "open 1", "isopen 0"
//   close                             CloseLed                       -> "close"
//   write-hex HEX                     Write2Led of the bytes (HEX may be empty) -> "write 1 ms=203"
//   write-null                        Write2Led(NULL)                -> "write-null -1"
//   clear                             ClearLed                       -> "clear 1 ms=0"
//   mode N                            SetShowMode(N)                 -> "mode"
//   att                               GetLEDAtt into a patterned record: every field, the texts in hex,
//                                     and how many other bytes lost the pattern
//   att-null                          GetLEDAtt(NULL)                -> "att-null -1"
//   ver                               GetVer                         -> "ver 3"
//   version-info                      language, code page and file version of the version resource
//   cdecl-check N                     N rounds of all nine exports; how far the calls moved the stack
//                                     pointer in all, and which export moved it first
//   sleep MS                          Sleep                          -> "sleep MS"
//   wait                              prints "wait" and reads one line from standard input
//   unload                            FreeLibrary                    -> "unload 1"
//
// The first line is "loaded exports=9 ordinals=same". Exit status: 0 done, 2 bad step, 3 the DLL
// could not be loaded or its exports are wrong.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "include/ledsign.h"
#include "tools/common/TextFormat.h"
#include "tools/common/PluginLibrary.h"

namespace ledsign::test {
namespace {

using Exports = tools::PluginExports;

// Ordinals 1..9 number the exports in alphabetical order of name.
const char* const kExportNames[9] = {"ClearLed", "CloseLed",    "GetLEDAtt",   "GetVer",   "InitLed",
                                     "IsLedOpened", "OpenLed", "SetShowMode", "Write2Led"};

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Hex(const char* bytes, size_t count) { return tools::HexBytes(std::string(bytes, count), ""); }

bool ParseNumber(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0';
}

// GetProcAddress hands every export back as one generic function pointer type.
template <class Fn>
Fn As(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// Milliseconds from a start reading of the performance counter; GetTickCount is too coarse
// under Wine to show a 100 ms pause.
long MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<long>((now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

#if defined(__i386__)
// Calls `function` through its pointer with one 32-bit argument, the cdecl way: the caller
// removes the argument. Returns how far the call moved the stack pointer (a callee that removed
// its own arguments moves it by 4) and puts the pointer back, so a wrong callee cannot upset
// the host. A float result is taken off the x87 stack.
int32_t StackMoveOfCall(FARPROC function, uintptr_t argument, bool returnsFloat) {
    int32_t moved;
    if (returnsFloat) {
        asm volatile(
            "movl %%esp, %%esi\n\t"
            "pushl %[argument]\n\t"
            "call *%[function]\n\t"
            "fstp %%st(0)\n\t"
            "addl $4, %%esp\n\t"
            "movl %%esp, %%eax\n\t"
            "subl %%esi, %%eax\n\t"
            "movl %%esi, %%esp"
            : "=a"(moved)
            : [function] "r"(function), [argument] "r"(argument)
            : "ecx", "edx", "esi", "memory", "cc");
    } else {
        asm volatile(
            "movl %%esp, %%esi\n\t"
            "pushl %[argument]\n\t"
            "call *%[function]\n\t"
            "addl $4, %%esp\n\t"
            "movl %%esp, %%eax\n\t"
            "subl %%esi, %%eax\n\t"
            "movl %%esi, %%esp"
            : "=a"(moved)
            : [function] "r"(function), [argument] "r"(argument)
            : "ecx", "edx", "esi", "memory", "cc");
    }
    return moved;
}
#else
// The x64 convention has one calling convention, whose callee leaves the stack pointer where it
// found it: the call is made on an aligned stack with the 32-byte home area, the argument in RCX
// (a float result comes back in XMM0), and the result is how far the callee moved the pointer.
int32_t StackMoveOfCall(FARPROC function, uintptr_t argument, bool /*returnsFloat*/) {
    int64_t moved;
    asm volatile(
        "movq %%rsp, %%rbx\n\t"
        "andq $-16, %%rsp\n\t"
        "subq $32, %%rsp\n\t"
        "movq %%rsp, %%r12\n\t"
        "movq %[argument], %%rcx\n\t"
        "call *%[function]\n\t"
        "movq %%rsp, %%rax\n\t"
        "subq %%r12, %%rax\n\t"
        "movq %%rbx, %%rsp"
        : "=a"(moved)
        : [function] "r"(function), [argument] "r"(argument)
        : "rbx", "r12", "rcx", "rdx", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
          "memory", "cc");
    return static_cast<int32_t>(moved);
}
#endif

class Host {
public:
    // Loads the DLL and checks that name and ordinal resolve each export to one address.
    bool Load(const char* path) {
        module_ = LoadLibraryA(path);
        if (module_ == nullptr) {
            Say("load-failed error=%lu", GetLastError());
            return false;
        }
        FARPROC found[9];
        for (WORD ordinal = 1; ordinal <= 9; ++ordinal) {
            const char* name = kExportNames[ordinal - 1];
            found[ordinal - 1] = GetProcAddress(module_, name);
            if (found[ordinal - 1] == nullptr) {
                Say("load-failed missing=%s", name);
                return false;
            }
            if (GetProcAddress(module_, MAKEINTRESOURCEA(ordinal)) != found[ordinal - 1]) {
                Say("load-failed ordinal=%u differs-from=%s", ordinal, name);
                return false;
            }
        }
        std::memcpy(procs_, found, sizeof procs_);
        exports_.ClearLed = As<ClearLedFn>(found[0]);
        exports_.CloseLed = As<CloseLedFn>(found[1]);
        exports_.GetLEDAtt = As<GetLEDAttFn>(found[2]);
        exports_.GetVer = As<GetVerFn>(found[3]);
        exports_.InitLed = As<InitLedFn>(found[4]);
        exports_.IsLedOpened = As<IsLedOpenedFn>(found[5]);
        exports_.OpenLed = As<OpenLedFn>(found[6]);
        exports_.SetShowMode = As<SetShowModeFn>(found[7]);
        exports_.Write2Led = As<Write2LedFn>(found[8]);
        // Nothing resolves past the ninth ordinal.
        if (GetProcAddress(module_, MAKEINTRESOURCEA(10)) != nullptr) {
            Say("load-failed ordinal=10 exists");
            return false;
        }
        path_ = path;
        Say("loaded exports=9 ordinals=same");
        return true;
    }

    // Runs one step starting at argv[i]; returns how many arguments it used, 0 on a bad step.
    int Step(char** argv, int i, int argc) {
        const std::string step = argv[i];
        const int left = argc - i - 1;
        if (module_ == nullptr && step != "sleep" && step != "wait" && step != "version-info") {
            Say("error step=%s after unload", step.c_str());
            return 0;
        }
        if (step == "init" && left >= 5) return Init(argv + i + 1) ? 6 : 0;
        if (step == "init-null") {
            exports_.InitLed(nullptr);
            Say("init-null");
            return 1;
        }
        if (step == "open") {
            Say("open %d", exports_.OpenLed());
            return 1;
        }
        if (step == "isopen") {
            Say("isopen %d", exports_.IsLedOpened());
            return 1;
        }
        if (step == "close") {
            exports_.CloseLed();
            Say("close");
            return 1;
        }
        if (step == "write-hex" && left >= 1) {
            std::string text;
            if (!tools::ParseHexBytes(argv[i + 1], text)) return Bad(step);
            const LARGE_INTEGER start = Now();
            const int32_t result = exports_.Write2Led(text.c_str());
            Say("write %d ms=%ld", result, MillisecondsSince(start));
            return 2;
        }
        if (step == "write-null") {
            Say("write-null %d", exports_.Write2Led(nullptr));
            return 1;
        }
        if (step == "clear") {
            const LARGE_INTEGER start = Now();
            const int32_t result = exports_.ClearLed();
            Say("clear %d ms=%ld", result, MillisecondsSince(start));
            return 1;
        }
        long number = 0;
        if (step == "mode" && left >= 1 && ParseNumber(argv[i + 1], number)) {
            exports_.SetShowMode(static_cast<unsigned char>(number));
            Say("mode");
            return 2;
        }
        if (step == "att") return Attributes();
        if (step == "att-null") {
            Say("att-null %d", exports_.GetLEDAtt(nullptr));
            return 1;
        }
        if (step == "ver") {
            Say("ver %.9g", static_cast<double>(exports_.GetVer()));
            return 1;
        }
        if (step == "version-info") return VersionInfo();
        if (step == "cdecl-check" && left >= 1 && ParseNumber(argv[i + 1], number) && number > 0) {
            CdeclCheck(number);
            return 2;
        }
        if (step == "sleep" && left >= 1 && ParseNumber(argv[i + 1], number) && number >= 0) {
            Sleep(static_cast<DWORD>(number));
            Say("sleep %ld", number);
            return 2;
        }
        if (step == "wait") {
            Say("wait");
            char line[64];
            if (std::fgets(line, sizeof line, stdin) == nullptr) Say("wait no-input");
            return 1;
        }
        if (step == "unload") {
            const BOOL freed = FreeLibrary(module_);
            module_ = nullptr;
            Say("unload %d", freed ? 1 : 0);
            return 1;
        }
        return Bad(step);
    }

private:
    int Bad(const std::string& step) {
        Say("error bad-step=%s", step.c_str());
        return 0;
    }

    bool Init(char** args) {
        PortSettings settings;
        std::memset(&settings, 0, sizeof settings);
        long baud = 0, dataBits = 0, stopBits = 0;
        if (std::strlen(args[0]) >= sizeof settings.portName || std::strlen(args[4]) >= sizeof settings.parityWord ||
            !ParseNumber(args[1], baud) || !ParseNumber(args[2], dataBits) || !ParseNumber(args[3], stopBits)) {
            Bad("init");
            return false;
        }
        std::strcpy(settings.portName, args[0]);
        std::strcpy(settings.parityWord, args[4]);
        settings.baudRate = static_cast<int32_t>(baud);
        settings.dataBits = static_cast<int32_t>(dataBits);
        settings.stopBits = static_cast<int32_t>(stopBits);
        exports_.InitLed(&settings);
        Say("init");
        return true;
    }

    // Fills a record with a pattern, lets the DLL write it, and reports every field plus whether
    // every byte outside the fields and after each text's NUL kept the pattern.
    int Attributes() {
        const unsigned char kPattern = 0xCC;
        static unsigned char raw[sizeof(LEDAtt)];
        std::memset(raw, kPattern, sizeof raw);
        LEDAtt* record = reinterpret_cast<LEDAtt*>(raw);
        const int32_t result = exports_.GetLEDAtt(record);
        struct Text {
            size_t offset, size;
        };
        const Text texts[] = {{offsetof(LEDAtt, commText), sizeof record->commText},
                              {offsetof(LEDAtt, vendor), sizeof record->vendor},
                              {offsetof(LEDAtt, vendorCopy), sizeof record->vendorCopy}};
        std::string hex[3];
        size_t touched = 0;
        for (size_t t = 0; t < 3; ++t) {
            const char* start = reinterpret_cast<const char*>(raw + texts[t].offset);
            const size_t length = strnlen(start, texts[t].size);
            hex[t] = Hex(start, length);
            for (size_t i = length + 1; i < texts[t].size; ++i) touched += raw[texts[t].offset + i] != kPattern;
        }
        Say("att %d dots=%d rowChars=%d rowWideChars=%d twoRows=%d commText=%s vendor=%s vendorCopy=%s "
            "touched-outside=%u",
            result, record->dots, record->rowChars, record->rowWideChars, record->twoRows, hex[0].c_str(),
            hex[1].c_str(), hex[2].c_str(), static_cast<unsigned>(touched));
        return 1;
    }

    int VersionInfo() {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
        std::string block(size, '\0');
        if (size == 0 || !GetFileVersionInfoA(path_.c_str(), 0, size, &block[0])) {
            Say("version-info none error=%lu", GetLastError());
            return 1;
        }
        WORD* translation = nullptr;
        UINT translationSize = 0;
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        if (!VerQueryValueA(&block[0], "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                            &translationSize) ||
            translationSize < 2 * sizeof(WORD) ||
            !VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
            fixedSize < sizeof(VS_FIXEDFILEINFO)) {
            Say("version-info incomplete");
            return 1;
        }
        Say("version-info language=%04X codepage=%04X file=%u.%u.%u.%u", translation[0], translation[1],
            unsigned{HIWORD(fixed->dwFileVersionMS)}, unsigned{LOWORD(fixed->dwFileVersionMS)},
            unsigned{HIWORD(fixed->dwFileVersionLS)}, unsigned{LOWORD(fixed->dwFileVersionLS)});
        return 1;
    }

    // Each round calls all nine exports through their pointers, on a port that cannot open so
    // that no call waits on a line, and adds up how far each call moved the stack pointer.
    void CdeclCheck(long rounds) {
        static PortSettings settings;
        std::memset(&settings, 0, sizeof settings);
        std::strcpy(settings.portName, "NOPORT");
        settings.baudRate = 9600;
        settings.dataBits = 8;
        settings.stopBits = 1;
        std::strcpy(settings.parityWord, "NONE");
        static LEDAtt record;
        const uintptr_t arguments[9] = {0,
                                       0,
                                       reinterpret_cast<uintptr_t>(&record),
                                       0,
                                       reinterpret_cast<uintptr_t>(&settings),
                                       0,
                                       0,
                                       7,
                                       0};  // Write2Led(NULL)
        long moved = 0;
        const char* firstMover = "none";
        for (long round = 0; round < rounds; ++round) {
            for (int i = 0; i < 9; ++i) {
                const int32_t move = StackMoveOfCall(procs_[i], arguments[i], i == 3);
                if (move != 0 && moved == 0) firstMover = kExportNames[i];
                moved += move < 0 ? -move : move;
            }
        }
        Say("cdecl-check calls=%ld stack-moved=%ld first=%s", rounds * 9, moved, firstMover);
    }

    HMODULE module_ = nullptr;
    std::string path_;
    FARPROC procs_[9] = {};  // by ordinal - 1
    Exports exports_{};
};

}  // namespace
}  // namespace ledsign::test

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: winhost DLL STEP...\n");
        return 2;
    }
    ledsign::test::Host host;
    if (!host.Load(argv[1])) return 3;
    for (int i = 2; i < argc;) {
        const int used = host.Step(argv, i, argc);
        if (used == 0) return 2;
        i += used;
    }
    return 0;
}
