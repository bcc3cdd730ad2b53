// winhost: a minimal Windows host for the plug-in DLLs, run under Wine by the end-to-end tests.
// It loads one DLL by path, resolves the nine exports by name and by ordinal, and runs the
// steps given on its command line through cdecl function pointers, one result line per step: the
// steps every test host reads (tests/HostSteps.h: init, open, isopen, close, write, write-hex,
// write-until, clear, mode, ask), where "ask" reads one line from standard input once the far
// side has acted, and these of its own:
//
//   winhost DLL STEP...
//
//   init-null                         InitLed(NULL)                  -> "init-null"
//   write-null                        Write2Led(NULL)                -> "write-null -1"
//   att                               GetLEDAtt into a patterned record: every field, the texts in hex,
//                                     and how many other bytes lost the pattern
//   att-null                          GetLEDAtt(NULL)                -> "att-null -1"
//   ver                               GetVer                         -> "ver 3"
//   version-info                      language, code page and file version of the version resource
//   cdecl-check N                     N rounds of all nine exports; how far the calls moved the stack
//                                     pointer in all, and which export moved it first
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
#include <vector>

#include "tests/HostSteps.h"
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

// GetProcAddress hands every export back as one generic function pointer type.
template <class Fn>
Fn As(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
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

    // Runs the step at words[at], its own or one every host reads; returns how many words it took,
    // 0 on a bad step.
    size_t Step(const std::vector<std::string>& words, size_t at) {
        const std::string& step = words[at];
        const bool needsDll = step != "ask" && step != "version-info";
        if (module_ == nullptr && needsDll) {
            Say("error step=%s after unload", step.c_str());
            return 0;
        }
        for (const OwnStep& own : kOwnSteps) {
            long number = 0;
            if (step != own.word) continue;
            if (own.takesNumber && (at + 1 >= words.size() || !ParseNumber(words[at + 1], number) || number <= 0)) break;
            (this->*own.run)(number);
            return own.takesNumber ? 2 : 1;
        }
        const StepHost host{exports_, [](const std::string& line) { Say("%s", line.c_str()); }, [](const std::string&) {
                                char line[64];
                                if (std::fgets(line, sizeof line, stdin) == nullptr) Say("ask no-input");
                            }};
        const size_t used = RunStep(host, words, at);
        if (used == 0) Say("error bad-step=%s", step.c_str());
        return used;
    }

private:
    struct OwnStep {
        const char* word;
        bool takesNumber;  // a count above 0 follows the word
        void (Host::*run)(long number);
    };
    static const OwnStep kOwnSteps[8];

    void InitNull(long) {
        exports_.InitLed(nullptr);
        Say("init-null");
    }
    void WriteNull(long) { Say("write-null %d", exports_.Write2Led(nullptr)); }
    void AttNull(long) { Say("att-null %d", exports_.GetLEDAtt(nullptr)); }
    void Ver(long) { Say("ver %.9g", static_cast<double>(exports_.GetVer())); }
    void Unload(long) {
        const BOOL freed = FreeLibrary(module_);
        module_ = nullptr;
        Say("unload %d", freed ? 1 : 0);
    }

    // Fills a record with a pattern, lets the DLL write it, and reports every field plus whether
    // every byte outside the fields and after each text's NUL kept the pattern.
    void Attributes(long) {
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
    }

    void VersionInfo(long) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
        std::string block(size, '\0');
        if (size == 0 || !GetFileVersionInfoA(path_.c_str(), 0, size, &block[0])) {
            Say("version-info none error=%lu", GetLastError());
            return;
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
            return;
        }
        Say("version-info language=%04X codepage=%04X file=%u.%u.%u.%u", translation[0], translation[1],
            unsigned{HIWORD(fixed->dwFileVersionMS)}, unsigned{LOWORD(fixed->dwFileVersionMS)},
            unsigned{HIWORD(fixed->dwFileVersionLS)}, unsigned{LOWORD(fixed->dwFileVersionLS)});
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

const Host::OwnStep Host::kOwnSteps[8] = {
    {"init-null", false, &Host::InitNull},   {"write-null", false, &Host::WriteNull},
    {"att", false, &Host::Attributes},       {"att-null", false, &Host::AttNull},
    {"ver", false, &Host::Ver},              {"version-info", false, &Host::VersionInfo},
    {"cdecl-check", true, &Host::CdeclCheck}, {"unload", false, &Host::Unload},
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
    const std::vector<std::string> words(argv + 2, argv + argc);
    for (size_t at = 0; at < words.size();) {
        const size_t used = host.Step(words, at);
        if (used == 0) return 2;
        at += used;
    }
    return 0;
}
