// The server's request decoder for every procedure of both interfaces: the
// first byte picks the procedure (connection service 0..9, then accessory
// service 0..3), the rest is the request stub. A stub that decodes is encoded
// again by the client's request encoder and must decode to the same arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rpc_procedures.h"
#include "ndr_stub.h"

namespace {

using namespace platform::rpc;

bool SameArguments(const std::vector<RpcArgument>& a, const std::vector<RpcArgument>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].direction != b[k].direction || a[k].kind != b[k].kind || a[k].text != b[k].text ||
            a[k].value != b[k].value || a[k].capacity != b[k].capacity || a[k].bytes != b[k].bytes) {
            return false;
        }
    }
    return true;
}

// The client's arguments that carry the decoded request; false when one of
// them cannot be expressed as a client argument (a text with an inner NUL).
bool ClientArgsFor(const ProcedureShape& shape, std::vector<RpcArgument>& decoded,
                   std::vector<std::u16string>& texts, std::vector<ULONG>& counts, ClientArgs& args) {
    static uint8_t scratch[8];
    texts.resize(shape.count);
    counts.resize(shape.count);
    for (unsigned char k = 0; k < shape.count; ++k) {
        RpcArgument& arg = decoded[k];
        switch (shape.params[k].kind) {
            case RPC_FC_WSTRING:
                if (arg.text.find(u'\0') != std::u16string::npos) return false;
                texts[k] = arg.text;
                args[k].pointer = texts[k].data();
                break;
            case RPC_FC_UINT32: args[k].value = arg.value; break;
            case RPC_FC_COUNT_REF:
                counts[k] = arg.value;
                args[k].pointer = &counts[k];
                break;
            case RPC_FC_BYTE_ARRAY:
                args[k].pointer = shape.params[k].IsIn() ? static_cast<void*>(arg.bytes.data()) : scratch;
                if (args[k].pointer == nullptr) args[k].pointer = scratch;  // an empty block
                break;
            default: args[k].pointer = scratch; break;  // outputs: never read by the encoder
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& procedures = fuzz::AllProcedures();
    const ProcedureShape& shape = procedures[data[0] % procedures.size()].shape;
    std::vector<RpcArgument> decoded;
    if (DecodeServerRequest(shape, data + 1, size - 1, decoded) != RPC_S_OK) return 0;
    FUZZ_CHECK(decoded.size() == shape.count);
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        if (param.IsIn() && param.kind == RPC_FC_BYTE_ARRAY) {
            FUZZ_CHECK(decoded[k].bytes.size() == decoded[param.sizedBy].value);
        }
    }

    std::vector<std::u16string> texts;
    std::vector<ULONG> counts;
    ClientArgs args{};
    if (!ClientArgsFor(shape, decoded, texts, counts, args)) return 0;
    std::vector<uint8_t> again;
    FUZZ_CHECK(EncodeClientRequest(shape, args, again) == RPC_S_OK);
    std::vector<RpcArgument> redecoded;
    FUZZ_CHECK(DecodeServerRequest(shape, again.data(), again.size(), redecoded) == RPC_S_OK);
    FUZZ_CHECK(SameArguments(decoded, redecoded));
    FUZZ_CHECK(again.size() == size - 1);  // the same layout; only gap byte values may differ
    return 0;
}
