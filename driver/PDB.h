// The device parameter block: the stored configuration of one device network (26508 bytes).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

constexpr int kMaxDevices = 100;

#pragma pack(push, 1)
// A length byte followed by N characters.
template <size_t N>
struct ShortString {
  uint8_t len;
  char chars[N];
  std::string str() const { return std::string(view()); }
  std::string_view view() const { return std::string_view(chars, len > N ? N : len); }
  void set(const std::string& s) {
    len = static_cast<uint8_t>(s.size() > N ? N : s.size());
    for (size_t i = 0; i < len; ++i) chars[i] = s[i];
  }
};

// One module-table entry.
struct TDevInfo {
  int32_t DevID;
  uint8_t DevType;  // 0 PLNE, 1 PLNK, 2 unused
  ShortString<46> DevTypeName;
  uint8_t AtMasterCpu;
  uint8_t Slot;
  uint8_t Reserved54[198];
  uint8_t Param252;
  uint8_t Param253;
  uint16_t Param254;
  uint16_t Param256;
  uint16_t Param258;
  uint16_t Param260;
  uint8_t Pad262[2];
};

struct PDB {
  uint8_t DebugLog;
  uint8_t ErrorLog;
  uint8_t TraceLog;
  uint8_t Pad3;
  uint16_t TimeOut;
  uint16_t Reserved6;
  uint8_t WriteCount;
  uint8_t LinkMode;
  uint8_t Pad10[2];
  int32_t SingleDevID;
  TDevInfo Devices[kMaxDevices];
  uint8_t ComPort;
  uint8_t BaudRate;
  uint8_t DataBits;
  uint8_t StopBits;
  uint8_t Parity;
  ShortString<32> PhoneNum;
  ShortString<50> ModemInit;
  uint8_t Pad26505[3];
};
#pragma pack(pop)

static_assert(sizeof(TDevInfo) == 264);
static_assert(offsetof(TDevInfo, DevType) == 4);
static_assert(offsetof(TDevInfo, DevTypeName) == 5);
static_assert(offsetof(TDevInfo, AtMasterCpu) == 52);
static_assert(offsetof(TDevInfo, Slot) == 53);
static_assert(offsetof(TDevInfo, Reserved54) == 54);
static_assert(offsetof(TDevInfo, Param252) == 252);
static_assert(offsetof(TDevInfo, Param254) == 254);
static_assert(offsetof(TDevInfo, Param256) == 256);
static_assert(offsetof(TDevInfo, Param258) == 258);
static_assert(offsetof(TDevInfo, Param260) == 260);
static_assert(sizeof(PDB) == 26508);
static_assert(offsetof(PDB, TimeOut) == 4);
static_assert(offsetof(PDB, Reserved6) == 6);
static_assert(offsetof(PDB, WriteCount) == 8);
static_assert(offsetof(PDB, LinkMode) == 9);
static_assert(offsetof(PDB, SingleDevID) == 12);
static_assert(offsetof(PDB, Devices) == 16);
static_assert(offsetof(PDB, ComPort) == 26416);
static_assert(offsetof(PDB, BaudRate) == 26417);
static_assert(offsetof(PDB, DataBits) == 26418);
static_assert(offsetof(PDB, StopBits) == 26419);
static_assert(offsetof(PDB, Parity) == 26420);
static_assert(offsetof(PDB, PhoneNum) == 26421);
static_assert(offsetof(PDB, ModemInit) == 26454);

constexpr int32_t kPDBLen = static_cast<int32_t>(sizeof(PDB));

// Fills the block with its defaults (null is left alone).
void FillPDBDefaults(PDB* block);
// Voids module entries whose stored type name does not match their type; true when one was voided.
bool CheckPDB(PDB* block);
// Copies the block field by field; type names are rewritten from the copied types.
void CopyPDB(const PDB& src, PDB& dst);
// The name of a module type: "PLNE", "PLNK", "无效" (GBK); empty for unknown types.
const std::string& DevTypeNameOf(uint8_t devType);
// The wizard's description of a module type (types 0 and 1); empty otherwise.
const std::string& DevTypeDescription(uint8_t devType);
// Module type shown at a position of the wizard's type lists: 0 → 0, 1 → 1, else 2.
uint8_t DevTypeFromListIndex(int index);

// The line rates indexed by BaudRate.
constexpr uint32_t kBaudRates[15] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};

}  // namespace korvel
