// The driver's codes by name: command kinds, retry modes, link codes, run statuses and the
// operation codes of the run-state machine. The values are those hosts and logs have always seen.
#pragma once
#include <cstdint>

namespace korvel {

// Bits of TCommand::CmdKind.
constexpr uint16_t kCmdServesTags = 2;  // its TagIndex is meaningful
constexpr uint16_t kCmdTransient = 8;   // released when its chain ends (a queued write)
constexpr uint16_t kCmdKindRead = kCmdServesTags;
constexpr uint16_t kCmdKindWrite = 1 | kCmdServesTags | kCmdTransient;  // 11, as stored since ever

// TCommand::RetryMode: what a missing answer does.
enum TRetryMode : uint8_t {
  rmSendAgain = 1,  // the same request once more (then rmGiveUp)
  rmGiveUp = 2,
  rmSkip = 3,  // on to the next command of the chain
};

// Link codes: CommStatus of the line and DevStatus of a module, the values of the COMMLINK and
// DEVICELINK tags.
enum TLinkCode : uint8_t {
  lcNever = 0,         // never answered (or paused before the first answer)
  lcOK = 1,            // the last exchange succeeded
  lcInterference = 2,  // a few failures
  lcFault = 3,         // more failures (the line after a failure)
  lcBroken = 4,        // many failures
  lcPowerOff = 5,      // a probe got no answer: module off or broken
  lcPaused = 6,        // polling paused or the module disabled
};

enum TRunStatus : uint8_t {
  rsStart = 0,
  rsUnLinked = 1,
  rsSysError = 2,
  rsSysErrorUnLinked = 3,
  rsReady = 4,
  rsStopping = 5,
  rsIniting = 6,
  rsLinking = 7,
  rsUnLinking = 8,
  rsReading = 10,
  rsWriting = 11,
  rsParm = 12,
  rsRail = 13,
  rsResvLink1 = 14,
  rsResvLink2 = 15,
  rsResvLink3 = 16,
};

enum TRunEvent : uint8_t {
  opNone = 0,
  opInit = 1,
  opInitACK,
  opInitNAK,
  opClrInitError,
  opLink = 5,
  opLinkACK,
  opLinkNAK,
  opClrLinkError,
  opUnLink = 9,
  opUnLinkACK,
  opUnLinkNAK,
  opClrUnLinkError,
  opReadCmd = 13,
  opReadACK,
  opReadNAK,
  opClrReadError,
  opWriteCmd = 17,
  opWriteACK,
  opWriteNAK,
  opClrWriteError,
  opParmCmd = 21,
  opParmACK,
  opParmNAK,
  opClrParmError,
  opStop = 25,
  opStopACK,
  opStopNAK,
  opClrStopError,
  opRailCmd = 29,
  opRailACK,
  opRailNAK,
  opClrRailError,
  opResvLink1 = 33,
  opResvLink1ACK,
  opResvLink1NAK,
  opClrResvLink1Error,
  opResvLink2 = 37,
  opResvLink2ACK,
  opResvLink2NAK,
  opClrResvLink2Error,
  opResvLink3 = 41,
  opResvLink3ACK,
  opResvLink3NAK,
  opClrResvLink3Error,
};

}  // namespace korvel
