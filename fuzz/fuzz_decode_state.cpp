// The state decoder against any datagram; a decoded state always re-encodes
// to the same record.
#include "fuzz_decode.h"

using namespace fuzz_decode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tesk2_message msg;
    datagram(data, size, &msg);
    qel_state state;
    kes_result result = qel_state_decode(&msg, &state);
    require_config(state.config);
    require(state.link_up <= 1);
    require_text(state.device_name, QEL_DEVICE_NAME_SIZE);
    require_text(state.dll_process_name, QEL_DLL_PROCESS_NAME_SIZE);
    if (result != KES_SUCCESS) {
        return 0;
    }
    tesk2_message again;
    empty_message(&again, QEL_EVENT_STATE);
    require(qel_state_encode(&state, &again) == KES_SUCCESS);
    qel_state back;
    require(qel_state_decode(&again, &back) == KES_SUCCESS);
    require(same(back, state));
    return 0;
}
