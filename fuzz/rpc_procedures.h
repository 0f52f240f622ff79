// The procedures of both service interfaces as the runtime parses them,
// numbered 0..13 (connection service 0..9, then accessory service 0..3) so
// that one input byte can pick one.
#pragma once

#include <cstdlib>
#include <vector>

#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "fuzz_support.h"
#include "procedure.h"

namespace fuzz {

struct Procedure {
    const RPC_SYNTAX_IDENTIFIER* interfaceId;
    platform::rpc::ProcedureShape shape;
};

// Connection service procedures 0..9, then accessory service procedures 0..3.
inline const std::vector<Procedure>& AllProcedures() {
    static const std::vector<Procedure> all = [] {
        std::vector<Procedure> procedures;
        auto add = [&](const RPC_SYNTAX_IDENTIFIER& id, const RPC_PROCEDURE_TABLE& table) {
            auto shapes = platform::rpc::ParseProcedureTable(table);
            if (!shapes) std::abort();
            for (const auto& shape : *shapes) procedures.push_back(Procedure{&id, shape});
        };
        add(contracts::kConnectionServiceId, contracts::kConnectionServiceProcedures);
        add(contracts::kAccessoryServiceId, contracts::kAccessoryServiceProcedures);
        return procedures;
    }();
    return all;
}

}  // namespace fuzz
