// The library's C functions: arguments checked here, the work done by the sign object.
#include <cstdlib>
#include <cstring>
#include <new>

#include "driver/Attributes.h"
#include "driver/TraceMessage.h"
#include "library/Sign.h"

namespace {

// Why this thread's last ledsign_open failed: there is no sign to hold it.
thread_local char openError[ledsign_sign::kReasonSize];

int OpenFailed(int result, const char* reason) {
    ledsign::KeepReason(openError, reason);
    return result;
}

int BadArgument(const char* reason) { return OpenFailed(LEDSIGN_BAD_ARGUMENT, reason); }

// 'unknown model "x" (brava, dorun, cresto, elvane)'
int UnknownModel(const char* model) {
    ledsign::TraceMessage reason;
    reason.Text("unknown model \"").Text(model).Text("\" (");
    for (size_t index = 0; index < ledsign::kLibraryModelCount; ++index) {
        reason.Text(index == 0 ? "" : ", ").Text(ledsign::kLibraryModels[index].model->name);
    }
    return BadArgument(reason.Text(")").Finished());
}

int MalformedSettings(const char* settings) {
    ledsign::TraceMessage reason;
    reason.Text("malformed settings \"").Text(settings).Text("\": BAUD,DATA,PARITY,STOP as in \"9600,8,NONE,1\"");
    return BadArgument(reason.Finished());
}

#if !defined(_WIN32)
int MalformedNetworkAddress(const char* port) {
    ledsign::TraceMessage reason;
    reason.Text("malformed network port \"").Text(port).Text("\": tcp://HOST:PORT or rfc2217://HOST:PORT");
    return BadArgument(reason.Finished());
}
#endif

}  // namespace

extern "C" {

int LEDSIGN_CALL ledsign_open(const char* model, const char* port, const char* settings, ledsign_sign** sign) {
    if (sign == nullptr) return BadArgument("no place for the sign (a null pointer)");
    *sign = nullptr;
    if (model == nullptr) return BadArgument("no model (a null pointer)");
    if (port == nullptr || port[0] == '\0') return BadArgument("no port name");
    const ledsign::LibraryModel* entry = ledsign::FindLibraryModel(model);
    if (entry == nullptr) return UnknownModel(model);
    if (ledsign::IsNetworkPortName(port)) {
#if defined(_WIN32)
        return BadArgument("network ports (tcp://, rfc2217://) are not available in the Windows library");
#else
        if (!ledsign::ValidNetworkAddress(port)) return MalformedNetworkAddress(port);
#endif
    }
    ledsign::SettingsText parsed{};
    const char* text = settings != nullptr ? settings : entry->model->identity.commText;
    if (!ParseSettingsText(text, &parsed)) return MalformedSettings(text);

    // One block: the sign, then its port's name.
    const size_t nameLength = std::strlen(port);
    if (nameLength >= UINT32_MAX) return BadArgument("port name too long");
    void* block = std::malloc(sizeof(ledsign_sign) + nameLength + 1);
    if (block == nullptr) return OpenFailed(LEDSIGN_FAILED, "out of memory");
    auto* opened = new (block)
        ledsign_sign(*entry, static_cast<char*>(block) + sizeof(ledsign_sign), static_cast<uint32_t>(nameLength + 1));
    const int result = opened->Open(port, parsed);
    if (result != LEDSIGN_OK) {
        OpenFailed(result, opened->LastError());
        opened->~ledsign_sign();
        std::free(block);
        return result;
    }
    openError[0] = '\0';
    *sign = opened;
    return LEDSIGN_OK;
}

int LEDSIGN_CALL ledsign_write(ledsign_sign* sign, const char* text) {
    if (sign == nullptr || text == nullptr) return LEDSIGN_BAD_ARGUMENT;
    return sign->WriteGbk(text);
}

int LEDSIGN_CALL ledsign_write_utf8(ledsign_sign* sign, const char* text) {
    if (sign == nullptr || text == nullptr) return LEDSIGN_BAD_ARGUMENT;
    return sign->WriteUtf8(text);
}

int LEDSIGN_CALL ledsign_clear(ledsign_sign* sign) { return sign != nullptr ? sign->Clear() : LEDSIGN_BAD_ARGUMENT; }

void LEDSIGN_CALL ledsign_close(ledsign_sign* sign) {
    if (sign == nullptr) return;
    // Destroying the port closes it.
    sign->~ledsign_sign();
    std::free(sign);
}

const char* LEDSIGN_CALL ledsign_last_error(const ledsign_sign* sign) {
    return sign != nullptr ? sign->LastError() : openError;
}

int LEDSIGN_CALL ledsign_model_count(void) { return static_cast<int>(ledsign::kLibraryModelCount); }

const char* LEDSIGN_CALL ledsign_model_name(int index) {
    if (index < 0 || static_cast<size_t>(index) >= ledsign::kLibraryModelCount) return nullptr;
    return ledsign::kLibraryModels[static_cast<size_t>(index)].model->name;
}

int LEDSIGN_CALL ledsign_model_attributes(const char* model, LEDAtt* attributes) {
    if (model == nullptr || attributes == nullptr) return LEDSIGN_BAD_ARGUMENT;
    const ledsign::LibraryModel* entry = ledsign::FindLibraryModel(model);
    if (entry == nullptr) return LEDSIGN_BAD_ARGUMENT;
    ledsign::FillAttributes(entry->model->identity, *attributes);
    return LEDSIGN_OK;
}

int LEDSIGN_CALL ledsign_set_trace(ledsign_sign* sign, ledsign_trace_callback callback, void* context) {
    if (sign == nullptr) return LEDSIGN_BAD_ARGUMENT;
    sign->SetTrace(callback, context);
    return LEDSIGN_OK;
}

}  // extern "C"
