#pragma once
// SERVICE_STATUS as QueryServiceStatus fills it, and the service-control constants used here.
#include "platform/wire/Layout.h"

namespace kestrel::wire {

struct SERVICE_STATUS {
    uint32_t dwServiceType;
    uint32_t dwCurrentState;
    uint32_t dwControlsAccepted;
    uint32_t dwWin32ExitCode;
    uint32_t dwServiceSpecificExitCode;
    uint32_t dwCheckPoint;
    uint32_t dwWaitHint;
};
KESTREL_WIRE_SIZE(SERVICE_STATUS, 28, 28);
KESTREL_WIRE_OFFSET(SERVICE_STATUS, dwCurrentState, 4, 4);
KESTREL_WIRE_OFFSET(SERVICE_STATUS, dwWaitHint, 24, 24);

constexpr uint32_t SERVICE_STOPPED_STATE = 1;
constexpr uint32_t SERVICE_START_PENDING_STATE = 2;
constexpr uint32_t SERVICE_STOP_PENDING_STATE = 3;
constexpr uint32_t SERVICE_RUNNING_STATE = 4;
constexpr uint32_t SERVICE_CONTINUE_PENDING_STATE = 5;
constexpr uint32_t SERVICE_PAUSE_PENDING_STATE = 6;
constexpr uint32_t SERVICE_PAUSED_STATE = 7;

constexpr uint32_t GENERIC_EXECUTE_RIGHT = 0x20000000u;
constexpr uint32_t SERVICE_QUERY_STATUS_RIGHT = 0x0004;
constexpr uint32_t SERVICE_START_RIGHT = 0x0010;

constexpr uint32_t WBEM_FLAG_CONNECT_USE_MAX_WAIT_FLAG = 0x80;

}  // namespace kestrel::wire
