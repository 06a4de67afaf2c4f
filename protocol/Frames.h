// The driver's side of the module wire format: the protocol description table, request frames,
// check characters, answer acceptance and decoding. Pure functions: no I/O, no clock, no driver
// state, so that they can be unit-tested with the worked frames and fuzzed with any bytes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/Variant.h"
#include "driver/records.h"

namespace korvel::proto {

constexpr char kTerminator = '\r';
// The module's password constant sent by a SetPassWord write that switches writing on.
inline constexpr std::string_view kPasswordText = "10+07342";

enum class Decoding : uint8_t { None, Numeric, Status };

// One row of the protocol description table, indexed by address type (PV .. SetPassWord).
struct AddrTypeInfo {
  const char* name;
  bool readable;
  bool writable;
  char readPrefix;   // '\0': no read request
  char writePrefix;  // '\0': no write request
  char answerStart;  // '\0': no answer expected
  int32_t blockSize;
  Decoding decoding;
};

constexpr int32_t kAddrTypeCount = 5;
extern const AddrTypeInfo kAddrTypes[kAddrTypeCount];

// The table row of an address type; null for -1 and other values outside the table.
const AddrTypeInfo* AddrTypeOf(int32_t addrType);
bool IsReadable(int32_t addrType);
bool IsWritable(int32_t addrType);

// Byte sum of text modulo 256.
uint8_t ByteSum(std::string_view text);
// The two check characters of text: 0x40 + high nibble, 0x40 + low nibble of the byte sum.
std::string CheckChars(std::string_view text);
// text followed by its two check characters.
std::string CheckCRC(std::string_view text);

// Device number in decimal, zero-padded to at least two digits ("05", "12").
std::string DevAddrText(int32_t dev);
// Parameter number in upper-case hexadecimal, zero-padded to at least two digits ("0A", "100").
std::string ParmNoText(int32_t parm);

// The request frame (terminator included) for a tag of addrType on device dev, channel channel.
// Empty for an unknown address type and for a SetPassWord write whose value is off (writeOn false);
// "@@" + CR for a direction the address type does not support.
std::string RequestFrame(int32_t addrType, int32_t dev, int32_t channel, bool isWrite, bool writeOn);

// Expected head of the answer: the answer start character and the device in hexadecimal (=0A);
// empty for writes and unknown address types.
std::string AnswerHead(int32_t addrType, int32_t dev, bool isWrite);

// Channel range of a command: with frameReady the tags' own range, else the address type's
// block around low. All three give 0 for an unknown address type (length: 1).
int32_t CommandAddrLength(int32_t addrType, bool frameReady, int32_t low, int32_t high);
int32_t CommandStartAddr(int32_t addrType, bool frameReady, int32_t low, int32_t high);
int32_t CommandEndAddr(int32_t addrType, bool frameReady, int32_t low, int32_t high);

// The text the answer's check characters cover: the device as two decimal digits followed by the
// answer without its last three characters (empty answer part when it is shorter than that).
std::string CrcSource(int32_t dev, std::string_view answer);
// True when the answer holds the terminator.
bool AnswerComplete(std::string_view answer);
// True exactly when answer is a whole frame of device dev: its check characters are right and the
// terminator ends it (nothing after the CR).
bool AnswerValid(int32_t dev, std::string_view answer);
// True when the answer's first character is the one the request kind expects ("=" for PV,
// PV_ALARM and AO, "!" for PARM) or the refusal "?". False for an empty answer and for an address
// type that expects no answer.
bool AnswerStartFits(int32_t addrType, std::string_view answer);
// The set of requests whose answers the check cannot tell apart: the check characters are a byte
// sum over the station's digits and the text, so stations with the same digit sum share them, and
// only the start character tells the kinds apart. A number below 512; -1 for an address type that
// expects no answer.
int32_t AnswerClass(int32_t addrType, int32_t dev);
// True when an answer contains the module's refusal character "?".
bool AnswerRefused(std::string_view answer);
// The body: the answer without its start character and its last three characters (at most 255),
// a view into answer.
std::string_view AnswerBody(std::string_view answer);

// Reads a decimal number with "." as decimal point (sign, digits, fraction, exponent; blanks
// around it allowed). No locale, no thousands separators, no hexadecimal, no inf/nan.
bool ParseNumber(std::string_view text, double* out);

// The value a tag takes from an accepted answer body. tagType is a TagValueType;
// channel is the tag's ChannelAddr (the alarm bit of a status-decoded switch tag); current is
// the tag's value, which stays when the body holds no usable value.
Variant DecodeValue(int32_t addrType, uint8_t tagType, int32_t channel, std::string_view body,
                    const Variant& current);

// True when the body is what every answer to a read request holds: a number that reads, then the
// status character. The answer to a request is the same frame whatever tags it serves, so a body
// that fails this was not made by the module for that request, whether or not its tags take the
// number: a byte sum does not see every damage (a cut answer run together with another station's
// can carry right check characters, and then holds a second start character).
bool NumberReads(std::string_view body);

}  // namespace korvel::proto
