// The package block as the template holds it: markers, "N/A" revisions, unfilled records and
// zero number fields. A packaging step finds it in the executable file by its markers and fills it.
#include "package/FwPackage.h"

// The build chooses the program slots' size; the exact layout has 32-byte slots.
#ifndef KESTREL_PROGRAM_SLOT_SIZE
#define KESTREL_PROGRAM_SLOT_SIZE 32
#endif
static_assert(KESTREL_PROGRAM_SLOT_SIZE >= kestrel::pkg::kDefaultProgramSlotSize, "a slot holds at least its marker");

namespace kestrel {
namespace {

// An unfilled constraint record: START "#FLSH" + image digit + record number, END, CMODEL and the
// reserved bytes each "#" followed by zero bytes.
#define KREC(x, n) {{'#', 'F', 'L', 'S', 'H', x, n, 0}, {'#'}, {'#'}, {'#'}}
#define KGROUP(x) {KREC(x, '1'), KREC(x, '2'), KREC(x, '3'), KREC(x, '4'), KREC(x, '5'), KREC(x, '6'), KREC(x, '7'), KREC(x, '8')}

// Not const: the packaging step rewrites these bytes in the file, and nothing may assume the
// values below at run time.
FW_PACKAGE_T<KESTREL_PROGRAM_SLOT_SIZE> gPackage = {
    "[Programmed by ----]",
    "v0.0.0.0",
    "",
    "Kestrel",
    "0000/00/00",
    "",
    {KGROUP('1'), KGROUP('2'), KGROUP('3'), KGROUP('4'), KGROUP('5'), KGROUP('6'), KGROUP('7'), KGROUP('8'), KGROUP('9'), KGROUP('A'), KGROUP('B'), KGROUP('C'), KGROUP('D'), KGROUP('E'), KGROUP('F')},
    {'P', 'A', 'R', 'A', '_', 'O', 'P', 'T', '='},
    0,
    0,
    0,
    {0, '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', 0},
    {"BIN_START1=0000000000", "BIN_START2=0000000000", "BIN_START3=0000000000", "BIN_START4=0000000000", "BIN_START5=0000000000", "BIN_START6=0000000000", "BIN_START7=0000000000", "BIN_START8=0000000000", "BIN_START9=0000000000", "BIN_STARTA=0000000000", "BIN_STARTB=0000000000", "BIN_STARTC=0000000000", "BIN_STARTD=0000000000", "BIN_STARTE=0000000000", "BIN_STARTF=0000000000"},
    {"BIN_SIZE1 =0000000000", "BIN_SIZE2 =0000000000", "BIN_SIZE3 =0000000000", "BIN_SIZE4 =0000000000", "BIN_SIZE5 =0000000000", "BIN_SIZE6 =0000000000", "BIN_SIZE7 =0000000000", "BIN_SIZE8 =0000000000", "BIN_SIZE9 =0000000000", "BIN_SIZEA =0000000000", "BIN_SIZEB =0000000000", "BIN_SIZEC =0000000000", "BIN_SIZED =0000000000", "BIN_SIZEE =0000000000", "BIN_SIZEF =0000000000"},
    {"NEW_FW1=N/A     ", "NEW_FW2=N/A     ", "NEW_FW3=N/A     ", "NEW_FW4=N/A     ", "NEW_FW5=N/A     ", "NEW_FW6=N/A     ", "NEW_FW7=N/A     ", "NEW_FW8=N/A     ", "NEW_FW9=N/A     ", "NEW_FWA=N/A     ", "NEW_FWB=N/A     ", "NEW_FWC=N/A     ", "NEW_FWD=N/A     ", "NEW_FWE=N/A     ", "NEW_FWF=N/A     "},
    {"FW_EXT1=N/A     ", "FW_EXT2=N/A     ", "FW_EXT3=N/A     ", "FW_EXT4=N/A     ", "FW_EXT5=N/A     ", "FW_EXT6=N/A     ", "FW_EXT7=N/A     ", "FW_EXT8=N/A     ", "FW_EXT9=N/A     ", "FW_EXTA=N/A     ", "FW_EXTB=N/A     ", "FW_EXTC=N/A     ", "FW_EXTD=N/A     ", "FW_EXTE=N/A     ", "FW_EXTF=N/A     "},
    "BOOT_CODE_HERE",
    {},
    "AES_BUF_HERE",
    {"EXE_XP_X86", "EXE_XP_X64", "EXE_2003_X86", "EXE_2003_X64", "EXE_VISTA_X86", "EXE_VISTA_X64", "EXE_2008_X86", "EXE_2008_X64", "EXE_WIN7_X86", "EXE_WIN7_X64", "EXE_COPYFILE_WIN7", "EXE_COPYFILE_2K3", "EXE_COPYFILE_2K8", "EXE_COPYFILE_XP"},
    "XP_X86_SIZE=0000000000\0"
    "XP_X64_SIZE=0000000000\0"
    "2003_X86_SIZE=0000000000\0"
    "2003_X64_SIZE=0000000000\0"
    "VISTA_X86_SIZE=0000000000\0"
    "VISTA_X64_SIZE=0000000000\0"
    "2008_X86_SIZE=0000000000\0"
    "2008_X64_SIZE=0000000000\0"
    "WIN7_X86_SIZE=0000000000\0"
    "WIN7_X64_SIZE=0000000000\0"
    "COPYFILE_SIZE=0000000000\0"
    "COPYF2K3_SIZE=0000000000\0"
    "COPYF2K8_SIZE=0000000000\0"
    "COPYFIXP_SIZE=0000000000",
};

}  // namespace

std::span<const uint8_t> OwnPackageBlock() {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&gPackage);
    // The block is the packaging step's, not the compiler's: hide its origin from the optimiser.
    asm volatile("" : "+r"(p));
    return {p, sizeof gPackage};
}

size_t OwnProgramSlotSize() { return KESTREL_PROGRAM_SLOT_SIZE; }

}  // namespace kestrel
