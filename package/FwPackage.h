#pragma once
// The package block: one contiguous structure inside the program's initialised data that a
// packaging step fills with images, target revisions, constraint records and option digits. The
// program reads it in place, through PackageView, never through the structure's members directly:
// the view bounds every read, so a test can hand it any block.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel {

constexpr size_t kImageSlots = 15;          // images k = 0..14
constexpr size_t kRecordsPerImage = 8;      // constraint records j = 0..7 of each image
constexpr size_t kImageRegionSize = 31457280;  // 30 MiB
constexpr size_t kImageBufferSize = 2097152;   // the main window's 2 MiB image buffer
constexpr size_t kProgramSlots = 14;
// The program slots' size in the exact layout. A template built with room for real boot-time
// programs has larger slots; everything after them moves by the difference.
constexpr size_t kDefaultProgramSlotSize = 32;
constexpr char kImageDigits[] = "123456789ABCDEF";

#pragma pack(push, 1)
struct FLSH_RECORD {
    char START[8];
    char END[8];
    char CMODEL[40];
    char reserved[20];
};
static_assert(sizeof(FLSH_RECORD) == 76);

template <size_t SlotSize>
struct FW_PACKAGE_T {
    char banner[21];
    char sVersion[13];
    char phone[15];
    char sTitle[64];
    char buildDate[12];
    char sPkgModel[65];
    FLSH_RECORD records[kImageSlots][kRecordsPerImage];
    char paraOpt[9];
    int8_t iVisualStyle;
    uint8_t iLanguage;
    uint8_t iFlashMode;
    uint8_t optionString[30];
    char binStart[kImageSlots][22];
    char binSize[kImageSlots][22];
    char newFw[kImageSlots][17];
    char fwExt[kImageSlots][17];
    char bootCode[4096];
    uint8_t imageRegion[kImageRegionSize];
    char aesBuf[256];
    char programSlots[kProgramSlots][SlotSize];
    char programSizes[348];
};
#pragma pack(pop)
using FW_PACKAGE = FW_PACKAGE_T<kDefaultProgramSlotSize>;

namespace pkg {
constexpr size_t kDefaultProgramSlotSize = kestrel::kDefaultProgramSlotSize;
constexpr size_t kBlockSize = 31472950;
constexpr size_t kBanner = 0x0000;
constexpr size_t kVersion = 0x0015;
constexpr size_t kPhone = 0x0022;
constexpr size_t kTitle = 0x0031;
constexpr size_t kBuildDate = 0x0071;
constexpr size_t kPkgModel = 0x007D;
constexpr size_t kRecords = 0x00BE;
constexpr size_t kParaOpt = 0x245E;
constexpr size_t kVisualStyle = 0x2467;
constexpr size_t kLanguage = 0x2468;
constexpr size_t kFlashMode = 0x2469;
constexpr size_t kOptionString = 0x246A;
constexpr size_t kOptionStringSize = 30;
constexpr size_t kBinStart = 0x2488;
constexpr size_t kBinSize = 0x25D2;
constexpr size_t kNewFw = 0x271C;
constexpr size_t kFwExt = 0x281B;
constexpr size_t kBootCode = 0x291A;
constexpr size_t kImageRegion = 0x391A;
constexpr size_t kAesBuf = 0x1E0391A;
constexpr size_t kProgramSlotStart = 0x1E03A1A;
constexpr size_t kProgramSizeStart = 0x1E03BDA;
constexpr size_t kNumEntrySize = 22;   // key 11 + number field 11
constexpr size_t kNumValueOffset = 11;
constexpr size_t kRevEntrySize = 17;   // key 8 + revision 8 + NUL
constexpr size_t kRevValueOffset = 8;
constexpr size_t kRecordSize = 76;
constexpr size_t kRecordGroupSize = kRecordSize * kRecordsPerImage;  // 608
constexpr size_t kNumberFieldDigits = 10;

// The program slot markers, in slot order, and the size entries that follow the slots.
constexpr const char* kProgramSlotNames[kProgramSlots] = {
    "EXE_XP_X86",    "EXE_XP_X64",    "EXE_2003_X86",      "EXE_2003_X64",     "EXE_VISTA_X86",
    "EXE_VISTA_X64", "EXE_2008_X86",  "EXE_2008_X64",      "EXE_WIN7_X86",     "EXE_WIN7_X64",
    "EXE_COPYFILE_WIN7", "EXE_COPYFILE_2K3", "EXE_COPYFILE_2K8", "EXE_COPYFILE_XP"};
constexpr const char* kProgramSizeKeys[kProgramSlots] = {
    "XP_X86_SIZE=",    "XP_X64_SIZE=",    "2003_X86_SIZE=", "2003_X64_SIZE=", "VISTA_X86_SIZE=",
    "VISTA_X64_SIZE=", "2008_X86_SIZE=",  "2008_X64_SIZE=", "WIN7_X86_SIZE=", "WIN7_X64_SIZE=",
    "COPYFILE_SIZE=",  "COPYF2K3_SIZE=",  "COPYF2K8_SIZE=", "COPYFIXP_SIZE="};
// Where each size entry's number field lies.
constexpr size_t kProgramSizeValue[kProgramSlots] = {
    0x1E03BE6, 0x1E03BFD, 0x1E03C16, 0x1E03C2F, 0x1E03C49, 0x1E03C63, 0x1E03C7C,
    0x1E03C95, 0x1E03CAE, 0x1E03CC7, 0x1E03CE0, 0x1E03CF9, 0x1E03D12, 0x1E03D2B};
constexpr size_t kProgramSizesLength = 348;

// The same places for a block whose program slots are slotSize bytes each.
constexpr size_t BlockSize(size_t slotSize) { return kBlockSize + kProgramSlots * (slotSize - kDefaultProgramSlotSize); }
constexpr size_t ProgramSlotOffset(size_t n, size_t slotSize) { return kProgramSlotStart + slotSize * n; }
constexpr size_t ProgramSizeStart(size_t slotSize) { return kProgramSlotStart + kProgramSlots * slotSize; }
constexpr size_t ProgramSizeValue(size_t n, size_t slotSize) {
    return kProgramSizeValue[n] + kProgramSlots * (slotSize - kDefaultProgramSlotSize);
}
static_assert(ProgramSizeStart(kDefaultProgramSlotSize) == kProgramSizeStart);
static_assert(ProgramSizeStart(kDefaultProgramSlotSize) + kProgramSizesLength == kBlockSize);
}  // namespace pkg

static_assert(sizeof(FW_PACKAGE) == pkg::kBlockSize);
static_assert(offsetof(FW_PACKAGE, sVersion) == pkg::kVersion);
static_assert(offsetof(FW_PACKAGE, phone) == pkg::kPhone);
static_assert(offsetof(FW_PACKAGE, sTitle) == pkg::kTitle);
static_assert(offsetof(FW_PACKAGE, buildDate) == pkg::kBuildDate);
static_assert(offsetof(FW_PACKAGE, sPkgModel) == pkg::kPkgModel);
static_assert(offsetof(FW_PACKAGE, records) == pkg::kRecords);
static_assert(offsetof(FW_PACKAGE, paraOpt) == pkg::kParaOpt);
static_assert(offsetof(FW_PACKAGE, iVisualStyle) == pkg::kVisualStyle);
static_assert(offsetof(FW_PACKAGE, optionString) == pkg::kOptionString);
static_assert(offsetof(FW_PACKAGE, binStart) == pkg::kBinStart);
static_assert(offsetof(FW_PACKAGE, binSize) == pkg::kBinSize);
static_assert(offsetof(FW_PACKAGE, newFw) == pkg::kNewFw);
static_assert(offsetof(FW_PACKAGE, fwExt) == pkg::kFwExt);
static_assert(offsetof(FW_PACKAGE, bootCode) == pkg::kBootCode);
static_assert(offsetof(FW_PACKAGE, imageRegion) == pkg::kImageRegion);
static_assert(offsetof(FW_PACKAGE, aesBuf) == pkg::kAesBuf);
static_assert(offsetof(FW_PACKAGE, programSlots) == pkg::kProgramSlotStart);
static_assert(offsetof(FW_PACKAGE, programSizes) == pkg::kProgramSizeStart);
static_assert(sizeof(FW_PACKAGE_T<1048576>) == pkg::BlockSize(1048576));
static_assert(offsetof(FW_PACKAGE_T<1048576>, programSizes) == pkg::ProgramSizeStart(1048576));

// The program's own block, as the packaging step left it in the executable file. The bytes are
// read through a compiler barrier, so the template's initial values are never folded into the code.
std::span<const uint8_t> OwnPackageBlock();
// The size of its program slots: the layout this program was built with.
size_t OwnProgramSlotSize();

}  // namespace kestrel
