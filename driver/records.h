// The records that cross the boundary between host and library. Fixed byte layouts, the same
// on 32-bit and 64-bit builds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvel {

// Value type of a tag: its TagType, and the DataType of the host's value records.
enum TagValueType : uint8_t {
  kTypeReal = 0,    // analog, carried as a double
  kTypeBool = 1,    // switch, carried as an int32 0/1
  kTypeString = 2,  // carried as a pointer to a NUL-terminated GBK string
};

// OLE variant layout: 16-bit type, three reserved words, eight bytes of value.
enum : uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,    // int64 in units of 1/10000
  VT_DATE = 7,  // double: days since 30 Dec 1899
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_DECIMAL = 14,  // fills the whole 16 bytes: scale, sign, 96-bit magnitude
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_LPSTR = 30
};
struct OleVariant {
  uint16_t vt;
  uint16_t reserved1, reserved2, reserved3;
  union {
    int16_t iVal;
    int32_t lVal;
    float fltVal;
    double dblVal;
    int16_t boolVal;  // -1 true, 0 false
    const char* pszVal;
    uint8_t bytes[8];
  };
};
static_assert(sizeof(OleVariant) == 16);

#pragma pack(push, 1)
// One tag as the host describes it.
struct TTagInfo {
  int32_t TagID;
  char TagName[32];
  int32_t HostReserved36;
  char TagAddr[64];
  uint8_t TagType;  // 0 real, 1 boolean, 2 string
  uint8_t Pad105[3];
  int32_t ScanPeriod;
  uint8_t HostReserved112[8];
  OleVariant Value;
};

// One value crossing the boundary in OnDataRead / OnDataWrite.
struct TTagValue {
  int32_t TagID;
  double Time;
  uint32_t Status;
  uint8_t DataType;  // 0 real, 1 boolean, 2 string
  uint8_t Pad17[3];
  union {
    double dbl;
    int32_t bln;
    char* str;
    uint8_t bytes[8];
  } Data;
};

// One address-kind template of GetTagAddrList. Short strings: length byte + 255 characters.
struct TTagAddrInfo {
  uint8_t Prefix[256];
  uint8_t Hint[256];
  uint8_t DataType;
  uint8_t Flag;
  uint8_t Pad514[2];
  double MaxValue;
  double MinValue;
  int32_t Reserved532;
};
#pragma pack(pop)

// A record's initial value, read by copy: hosts place records at any address, and the packed
// record does not give its variant member the variant's own 8-byte alignment.
inline OleVariant InitialValue(const TTagInfo& info) {
  OleVariant value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(&info) + offsetof(TTagInfo, Value),
              sizeof value);
  return value;
}

static_assert(sizeof(TTagInfo) == 136);
static_assert(offsetof(TTagInfo, TagName) == 4);
static_assert(offsetof(TTagInfo, TagAddr) == 40);
static_assert(offsetof(TTagInfo, TagType) == 104);
static_assert(offsetof(TTagInfo, ScanPeriod) == 108);
static_assert(offsetof(TTagInfo, Value) == 120);
static_assert(sizeof(TTagValue) == 28);
static_assert(offsetof(TTagValue, Time) == 4);
static_assert(offsetof(TTagValue, Status) == 12);
static_assert(offsetof(TTagValue, DataType) == 16);
static_assert(offsetof(TTagValue, Data) == 20);
static_assert(sizeof(TTagAddrInfo) == 536);
static_assert(offsetof(TTagAddrInfo, Hint) == 256);
static_assert(offsetof(TTagAddrInfo, DataType) == 512);
static_assert(offsetof(TTagAddrInfo, Flag) == 513);
static_assert(offsetof(TTagAddrInfo, MaxValue) == 516);
static_assert(offsetof(TTagAddrInfo, MinValue) == 524);
static_assert(offsetof(TTagAddrInfo, Reserved532) == 532);

}  // namespace korvel
