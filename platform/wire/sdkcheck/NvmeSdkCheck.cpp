// Our NVMe query and NVMe entry layouts against the SDK's own definitions, for the target being
// built. The miniport firmware records and the CSMI and Intel RST requests are not in the SDK
// headers this build has; their own size and offset assertions hold them.
#include <windows.h>
#include <winioctl.h>
#include <nvme.h>

#include <cstddef>

#include "platform/wire/Csmi.h"  // its own asserts, in this width
#include "platform/wire/Nvme.h"
#include "platform/wire/StorageQuery.h"

namespace w = kestrel::wire;

#define SAME_SIZE(Ours, Theirs) static_assert(sizeof(w::Ours) == sizeof(Theirs), #Ours " differs in size from " #Theirs)
#define SAME_OFFSET(Ours, Theirs, field) \
    static_assert(offsetof(w::Ours, field) == offsetof(Theirs, field), #Ours "::" #field " differs from " #Theirs)
#define SAME_OFFSET2(Ours, ourField, Theirs, theirField)                                      \
    static_assert(offsetof(w::Ours, ourField) == offsetof(Theirs, theirField), #Ours "::" #ourField \
                  " differs from " #Theirs "::" #theirField)

SAME_SIZE(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA);
SAME_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, DataType);
SAME_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestValue);
SAME_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue);
SAME_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset);
SAME_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength);
SAME_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, FixedProtocolReturnData);
SAME_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue4);

SAME_SIZE(STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_PROTOCOL_DATA_DESCRIPTOR);
SAME_OFFSET(STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_PROTOCOL_DATA_DESCRIPTOR, Size);
SAME_OFFSET(STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData);

// The query buffer: the protocol record sits where STORAGE_PROPERTY_QUERY keeps its parameters.
SAME_OFFSET2(NVME_STORAGE_QUERY_BUFFER, QueryType, STORAGE_PROPERTY_QUERY, QueryType);
SAME_OFFSET2(NVME_STORAGE_QUERY_BUFFER, ProtocolSpecific, STORAGE_PROPERTY_QUERY, AdditionalParameters);
static_assert(offsetof(w::NVME_STORAGE_QUERY_BUFFER, Data) ==
              offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA));
static_assert(offsetof(w::NVME_STORAGE_QUERY_BUFFER, Data) == sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));

SAME_SIZE(NVME_COMMAND, NVME_COMMAND);
SAME_OFFSET2(NVME_COMMAND, NSID, NVME_COMMAND, NSID);
SAME_OFFSET2(NVME_COMMAND, MPTR, NVME_COMMAND, MPTR);
SAME_OFFSET2(NVME_COMMAND, PRP1, NVME_COMMAND, PRP1);
SAME_OFFSET2(NVME_COMMAND, PRP2, NVME_COMMAND, PRP2);
SAME_OFFSET2(NVME_COMMAND, CDW10, NVME_COMMAND, u);

SAME_SIZE(NVME_COMPLETION_ENTRY, NVME_COMPLETION_ENTRY);
SAME_OFFSET(NVME_COMPLETION_ENTRY, NVME_COMPLETION_ENTRY, DW1);
SAME_OFFSET2(NVME_COMPLETION_ENTRY, SQHD, NVME_COMPLETION_ENTRY, DW2);
SAME_OFFSET2(NVME_COMPLETION_ENTRY, CID, NVME_COMPLETION_ENTRY, DW3);

static_assert(w::StorageAdapterProtocolSpecificProperty == StorageAdapterProtocolSpecificProperty);
static_assert(w::ProtocolTypeNvme == ProtocolTypeNvme);
static_assert(w::NVMeDataTypeIdentify == NVMeDataTypeIdentify);
static_assert(w::NVME_ADMIN_IDENTIFY == NVME_ADMIN_COMMAND_IDENTIFY);
static_assert(w::NVME_ADMIN_GET_LOG_PAGE == NVME_ADMIN_COMMAND_GET_LOG_PAGE);
static_assert(w::NVME_LOG_PAGE_FIRMWARE_SLOT_INFO == NVME_LOG_PAGE_FIRMWARE_SLOT_INFO);
static_assert(w::NVME_IDENTIFY_CNS_CONTROLLER == NVME_IDENTIFY_CNS_CONTROLLER);
