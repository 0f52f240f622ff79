// The client's response decoder for every procedure of both interfaces: the
// first byte picks the procedure (connection service 0..9, then accessory
// service 0..3), two bytes per count give the caller's capacity, the rest is
// the response stub. Outputs live in heap blocks of exactly the caller's
// capacity, so a write past one is a finding; a response that decodes must
// hold no more elements than the capacity and must be committed as sent.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "rpc_procedures.h"
#include "ndr_stub.h"

namespace {

using namespace platform::rpc;

struct Outputs {
    std::vector<std::unique_ptr<uint8_t[]>> blocks;
    std::vector<size_t> sizes;
};

// The caller's arguments: counts with their capacities, out arrays of
// exactly capacity elements, 4-byte outputs, small in values.
void PrepareArgs(const ProcedureShape& shape, const uint8_t*& data, size_t& size, ClientArgs& args,
                 Outputs& outputs) {
    outputs.blocks.resize(shape.count);
    outputs.sizes.assign(shape.count, 0);
    for (unsigned char k = 0; k < shape.count; ++k) {
        if (shape.params[k].kind != RPC_FC_COUNT_REF) continue;
        ULONG capacity = 0;
        if (size >= 2) {
            capacity = static_cast<ULONG>(data[0] | (data[1] << 8));
            data += 2;
            size -= 2;
        }
        outputs.blocks[k].reset(new uint8_t[sizeof(ULONG)]);
        std::memcpy(outputs.blocks[k].get(), &capacity, sizeof capacity);
        outputs.sizes[k] = sizeof(ULONG);
    }
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        if (param.kind == RPC_FC_UINT32) {
            args[k].value = 1;
            continue;
        }
        if (param.kind != RPC_FC_COUNT_REF) {
            size_t bytes = 4;
            if (param.IsOutArray()) {
                ULONG capacity = 0;
                std::memcpy(&capacity, outputs.blocks[param.sizedBy].get(), sizeof capacity);
                bytes = capacity * param.ElementSize();
            } else if (param.kind == RPC_FC_WSTRING || param.kind == RPC_FC_BYTE_ARRAY) {
                bytes = 2;  // in-only: never touched by the response
            }
            outputs.blocks[k].reset(new uint8_t[bytes == 0 ? 1 : bytes]);
            std::memset(outputs.blocks[k].get(), 0xA5, bytes == 0 ? 1 : bytes);
            outputs.sizes[k] = bytes;
        }
        args[k].pointer = outputs.blocks[k].get();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& procedures = fuzz::AllProcedures();
    const ProcedureShape& shape = procedures[data[0] % procedures.size()].shape;
    ++data;
    --size;
    ClientArgs args{};
    Outputs outputs;
    PrepareArgs(shape, data, size, args, outputs);

    StagedResponse staged;
    if (DecodeClientResponse(shape, args, data, size, staged) != RPC_S_OK) return 0;
    CommitClientResponse(shape, args, staged);
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        if (!param.IsOutArray()) continue;
        ULONG count = 0;
        std::memcpy(&count, outputs.blocks[param.sizedBy].get(), sizeof count);
        size_t bytes = size_t{count} * param.ElementSize();
        FUZZ_CHECK(bytes <= outputs.sizes[k]);
        FUZZ_CHECK(staged.outputs[k].elementCount == count);
        FUZZ_CHECK(bytes == 0 || std::memcmp(outputs.blocks[k].get(), staged.outputs[k].elements, bytes) == 0);
    }
    return 0;
}
