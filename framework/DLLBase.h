// TBaseDLLObject: the generic driver object — tag table, addresses, run states, commands and
// scheduling, execution, logging. The protocol classes derive from it and override the virtual
// protocol operations.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "driver/Variant.h"
#include "driver/records.h"
#include "framework/Codes.h"
#include "framework/TrackedValues.h"
#include "platform/event.h"

namespace korvel {

// Status-word bits set by the address check at initialisation.
constexpr uint32_t kStatusAddrChecked = 0x00080000;
constexpr uint32_t kStatusAddrFailed = 0x00040000;

// Status-word bits with which a device that never answered, or that failed, marks its tags.
constexpr uint32_t kStatusDevMarkSet = 0x01100000;
constexpr uint32_t kStatusDevMarkMask = 0xFFF70000;
// Status-word bit of a tag whose value did not reach its module (no answer, or a write never sent).
constexpr uint32_t kStatusNotDelivered = 0x00100000;

// Tag kinds (index into the kind table).
enum TagKind : int32_t {
  tkPV = 0,
  tkPVAlarm = 1,
  tkParm = 2,
  tkAO = 3,
  tkSetPassWord = 4,
  kTagKindCount = 5
};

// The fixed table behind a tag kind: its name, the channel and bit limits (-1 = none) and
// whether the kind is write-only.
struct TTagKindInfo {
  const char* Name;
  int32_t ChannelDefault;  // also the channel minimum
  int32_t ChannelMax;
  int32_t BitDefault, BitMin, BitMax;
  uint8_t WriteOnly;
};
// The kind at index 0..4; null for any other index.
const TTagKindInfo* TagKindInfo(int32_t kind);

// Upper case of ASCII letters only; the second byte of a GBK character is left alone.
std::string GbkUpper(const std::string& text);
// Position of needle in text on a character boundary (GBK), or npos.
size_t GbkFind(const std::string& text, const std::string& needle, size_t from = 0);
// Decimal integer as the host's conversions read it: optional blanks, optional sign, digits,
// nothing after them, within int32. False for anything else.
bool ParseDecimal(const std::string& text, int32_t& out);

// Per-tag run-time record of an instance.
// An exchange touches dozens of tags that have left the cache since their module's last turn, and
// a report touches every changed tag: what both use fills the record's first two cache lines.
struct alignas(64) TDLLTag {
  TDLLTag() = default;
  TDLLTag(const TDLLTag&) = delete;
  TDLLTag& operator=(const TDLLTag&) = delete;

  // ---- first line: what an answer sets and a report compares
  TChangeMark Mark;
  TTrackedValue Value{&Mark};  // current value
  TTrackedStatus Status{&Mark};
  double TimeStamp = 0;
  // ---- second line: what an answer decodes with and a report copies
  Variant LastValue;  // value last reported to the host
  double RawValue = 0;
  uint32_t LastStatus = 0;  // Status last reported to the host
  int32_t TagID = 0;
  uint32_t ReportTick = 0;
  int32_t BitAddr = 0;
  int32_t ChannelAddr = 0;
  int32_t AddrType = -1;
  int32_t Address = -1;
  int32_t ReadTotal = 0;
  uint8_t TagType = kTypeReal;  // a TagValueType
  uint8_t DevType = 2;
  uint8_t AddrValid = 0;
  uint8_t IsInternal = 0;
  uint8_t WriteOnly = 0;
  // ---- the rest
  int32_t TagIndex = 0;
  int32_t ScanPeriod = 0;
  int32_t Reserved[3] = {0, 0, 0};
  int32_t ThirdSeg = 0, FourSeg = 0, FiveSeg = 0;
  int32_t ReadErrors = 0, WriteTotal = 0, WriteErrors = 0;
  Variant OldValue;  // value before the last host write
  std::string TagName;
  std::string TagAddr;
  std::string InternalKey;
};

// One request frame for one module, serving one or more tags; chained through NextCommand.
struct TCommand {
  uint16_t CmdKind = 0;   // kCmd* bits
  uint8_t RetryMode = 0;  // a TRetryMode
  std::vector<int32_t> TagIndex;
  std::string AskStr;
  std::string AnswerMainStr;
  std::string InternalKey;
  int32_t AddrType = -1;
  bool IsWrite = false;
  int32_t StartAddr = 0, EndAddr = 0;
  int32_t HighChannel = 0, LowChannel = 0;
  bool FrameReady = false;
  std::string AnswerStr;
  int32_t DeviceAddr = 0;
  int32_t Period = 0;
  int64_t DueIn = 0;
  uint64_t LastSendTick = 0;
  int32_t RawValue = 0;
  Variant WriteValue;
  float SuccessRatio = 1.0f;
  TCommand* NextCommand = nullptr;
  uint64_t CreateTick = 0;  // full clock width: the expiry test must stay right past 2^32 ms
  std::vector<Variant> Values;
  int32_t FailCount = 0;
  int32_t Attempts = 0;
  int32_t Successes = 0;
  // The scheduler's bookkeeping for a read command of CommandList (see TBaseDLLObject::GetNextCommand).
  int32_t ListPos = -1;  // position in CommandList
};

// A binary min-heap of the read commands on (tick, list position). Each entry carries its own
// key and each command's place is kept by list position, so a sift reads and writes two small
// arrays and not the commands themselves.
class TCommandHeap {
 public:
  struct Entry {
    uint64_t key;     // the tick the heap orders by
    int32_t listPos;  // ties go to the earlier command of the list
    TCommand* cmd;
  };
  // Empties the heap for a command list of n commands.
  void reset(size_t n);
  void clear() { reset(0); }
  bool empty() const { return heap_.empty(); }
  size_t size() const { return heap_.size(); }
  const Entry& front() const { return heap_.front(); }
  bool contains(int32_t listPos) const {
    return listPos >= 0 && static_cast<size_t>(listPos) < where_.size() &&
           where_[static_cast<size_t>(listPos)] >= 0;
  }
  // Inserts c (by its ListPos) with key, or moves it to its place for a new key.
  void set(TCommand* c, uint64_t key);
  void remove(const TCommand* c);

 private:
  void place(size_t i, const Entry& e);
  void up(size_t i);
  void down(size_t i);
  std::vector<Entry> heap_;
  std::vector<int32_t> where_;  // by list position; -1 when not in the heap
};

// Per-module run record.
struct TDevRunInfo {
  TCommand* BestCommand = nullptr;
  uint32_t TimeoutCount = 0;
  bool ProbeActive = false;
  bool DeviceFault = false;
};

// Matches every operation code in the table of TBaseDLLObject::Transitions().
constexpr uint8_t kAnyEvent = 0xFF;
struct TTransition;

// The write-priority switch a new instance starts with. Not part of the parameter block: the
// wizard's box sets it for the lines started after it. Atomic, because every host thread reads it.
bool DefaultWritePriority();
void SetDefaultWritePriority(bool on);

// The process-wide log file name ("" until first computed).
std::string LogFileName();
void SetLogFileName(const std::string& name);
// Computes the log file name from the host's settings (host directory, "Sentrel.ini",
// DefaultPROJECT of [WORKING]).
std::string ComputeLogFileName();

class TBaseDLLObject {
 public:
  explicit TBaseDLLObject(bool firstInstance);
  virtual ~TBaseDLLObject();
  TBaseDLLObject(const TBaseDLLObject&) = delete;
  TBaseDLLObject& operator=(const TBaseDLLObject&) = delete;

  // ---- initialisation and tag table
  virtual bool IniParm(const PDB* block);
  virtual TDLLTag* CreatInternalTag(const TTagInfo& info);
  virtual std::string GetTagTypeStr(const std::string& name, const std::string& addr);
  virtual bool CheckAddrValid(TDLLTag* tag);
  virtual bool IniDLLObj(const PDB* block, const std::vector<const TTagInfo*>& list);
  // Extends the table; results[i] is 0 for an accepted descriptor and 1 for a refused one.
  // True when some descriptor was refused.
  virtual bool AddTagLists(const std::vector<const TTagInfo*>& list, std::vector<int32_t>& results);
  virtual uint8_t GetDevType(int32_t devNo);
  bool IniTagList(const std::vector<const TTagInfo*>& list);
  int32_t GetTagTypeIndex(const std::string& name, const std::string& addr);
  // Writes the last link-status pass's time stamp into the internal tags it covered; whoever
  // reads or sets an internal tag's TimeStamp calls it first.
  void FlushLinkStamp();

  // ---- addresses
  virtual int32_t GetDevAddr(const std::string& name, const std::string& addr);
  virtual int32_t GetChannelAddr(const std::string& name, const std::string& addr, uint8_t devType);
  virtual int32_t GetBitAddr(const std::string& name, const std::string& addr, uint8_t devType);
  virtual int32_t GetThirdSeg(const std::string& name, const std::string& addr, uint8_t devType);
  virtual int32_t GetFourSeg(const std::string& name, const std::string& addr, uint8_t devType);
  virtual int32_t GetFiveSeg(const std::string& name, const std::string& addr, uint8_t devType);
  // Checks an address for the host's tag editor and rewrites it into its normal form.
  virtual bool CheckTagAddr(const PDB* block, std::string& addr);

  // ---- protocol operations (the protocol classes override these)
  virtual void Refresh();
  virtual int32_t GetInterval();
  virtual bool ValidTagValFrm(uint8_t a, uint8_t b);
  // Which address kinds get read commands and which accept host writes.
  virtual bool AddrTypeReadable(int32_t addrType);
  virtual bool AddrTypeWritable(int32_t addrType);
  virtual void SyncTagValue(TCommand* cmd);
  virtual TCommand* CreatCommand(TDLLTag* tag, std::vector<TCommand*>& list, bool isWrite);
  virtual bool NeedCreatCommand(std::vector<TCommand*>& list, TDLLTag* tag, bool isWrite);
  virtual void OptimizeCommParm();
  virtual std::string GetAskStr(TCommand* cmd, TDLLTag* tag, bool isWrite);
  virtual std::string GetAnswerMainStr(TCommand* cmd, TDLLTag* tag, bool isWrite);
  virtual void RealComm(TCommand* cmd);
  virtual void FreeCommand(TCommand*& cmd);
  virtual bool GetResult();
  // The set of requests whose answers the wire cannot tell apart (same check characters, same
  // kind of answer): 0..kAnswerClasses-1, or -1 for a request that gets no answer. The framework
  // knows no frames: -1.
  virtual int32_t AnswerClass(const TCommand* cmd);

  // ---- run-state machine
  //
  // Each poll: GetRunEvent derives an operation code (RunEvent) from the status, the scheduler and
  // the answer check; SwitchRunStatus runs the handler that Transitions() names for the pair
  // (RunStatus, RunEvent). The handlers, by group, and where they lead:
  //
  //   status         code                      handler                 next status
  //   rsStart        opInit                    opInit_Exec             rsReady
  //   rsUnLinked     opInit, opStop            opStop_Exec             rsStopping
  //                  opLink / opUnLink         opLink_Exec / opUnLink  rsLinking / rsUnLinking
  //   rsReady        opReadCmd                 opReadCmd_Exec          rsReading (request sent)
  //                  opWriteCmd                opWriteCmd_Exec         rsWriting (request sent)
  //                  opRailCmd / opParmCmd     opRailCmd / opParmCmd   rsRail / rsParm
  //                  opInit, opUnLink, opStop  opUnLink_Exec           rsUnLinking
  //                  opLink                    opLink_Exec             rsLinking
  //   rsReading      opReadACK                 opReadACK_Exec          next of chain, or rsReady
  //                  opReadNAK                 opReadNAK_Exec          by RetryMode: send again,
  //                                                                    next of chain, or clear
  //                  opClrReadError            opClrReadError_Exec     rsReady
  //   rsWriting      opWriteACK/NAK/ClrError   as for reading, with the write handlers
  //   rsSysError*    any                       opClrSystemError_Exec   rsReady or rsUnLinked
  //   rsStopping, rsIniting, rsLinking, rsUnLinking, rsParm, rsRail, rsResvLink1..3:
  //                  the group's ACK / NAK / ClrError (request code + 1 / + 2 / + 3)
  //
  // The link-layer groups (link, unlink, parameters, rail, reserved links) have no wire exchange
  // here: GetRunEvent answers them with their ACK at the next poll. A code a status does not list
  // is dropped in rsReady/rsReading/rsWriting (it would stop polling) and kept elsewhere.
  using Handler = void (TBaseDLLObject::*)();
  // The whole table, in the order it is searched.
  static std::span<const TTransition> Transitions();
  // The handler of (status, event), or null when the table has none.
  static Handler HandlerFor(uint8_t status, uint8_t event);
  virtual void GetRunEvent();
  virtual void SwitchRunStatus();
  virtual void RefreshLinkStatus();
  virtual void opSystemError_Exec();
  virtual void opInit_Exec();
  virtual void opInitACK_Exec();
  virtual void opInitNAK_Exec();
  virtual void opClrInitError_Exec();
  virtual void opStop_Exec();
  virtual void opStopACK_Exec();
  virtual void opStopNAK_Exec();
  virtual void opClrStopError_Exec();
  virtual void opLink_Exec();
  virtual void opLinkACK_Exec();
  virtual void opLinkNAK_Exec();
  virtual void opClrLinkError_Exec();
  virtual void opUnLink_Exec();
  virtual void opUnLinkACK_Exec();
  virtual void opUnLinkNAK_Exec();
  virtual void opClrUnLinkError_Exec();
  virtual void opReadCmd_Exec();
  virtual void opReadACK_Exec();
  virtual void opReadNAK_Exec();
  virtual void opClrReadError_Exec();
  virtual void opWriteCmd_Exec();
  virtual void opWriteACK_Exec();
  virtual void opWriteNAK_Exec();
  virtual void opClrWriteError_Exec();
  virtual void opParmCmd_Exec();
  virtual void opParmACK_Exec();
  virtual void opParmNAK_Exec();
  virtual void opClrParmError_Exec();
  virtual void opRailCmd_Exec();
  virtual void opRailACK_Exec();
  virtual void opRailNAK_Exec();
  virtual void opClrRailError_Exec();
  virtual void opResvLink1_Exec();
  virtual void opResvLink1ACK_Exec();
  virtual void opResvLink1NAK_Exec();
  virtual void opClrResvLink1Error_Exec();
  virtual void opResvLink2_Exec();
  virtual void opResvLink2ACK_Exec();
  virtual void opResvLink2NAK_Exec();
  virtual void opClrResvLink2Error_Exec();
  virtual void opResvLink3_Exec();
  virtual void opResvLink3ACK_Exec();
  virtual void opResvLink3NAK_Exec();
  virtual void opClrResvLink3Error_Exec();
  virtual void opClrSystemError_Exec();

  // ---- scheduling
  // Chooses CurCommand: the most overdue read command (list order among equals), or the oldest
  // queued write when write priority is on or it is more overdue. The read commands are kept in
  // a heap ordered by due time, so a selection costs log(commands), not a walk of the list.
  virtual void GetNextCommand();
  virtual void GetCommandNext();
  // Rebuilds the due-time order from the commands' fields at the next selection. Needed only by
  // code that changes a command's LastSendTick, Period or FailCount behind the scheduler's back.
  void RescheduleAll() { ScheduleStale = true; }

  // ---- execution (called by the exports)
  virtual bool WriteExecute(int32_t tagID, const Variant& value);
  virtual bool ReadExecute();
  virtual bool ReadExecuteEx();

  // ---- logging, messages and statistics
  // Appends text to the log file (callers check the switches).
  void SetLogMsg(const std::string& text);
  // Appends date-time + text (text normally starts with "：").
  void LogLine(const std::string& text);
  // The "异常！" line of a failed operation, written when ErrorLog is on.
  void LogException(const char* className, const char* method, bool withCR = true);
  virtual void SetEnLog(bool value);
  virtual void WriteCommEvent(const std::string& text);
  virtual void WriteDevMsg(const std::string& text);
  virtual void CheckLogFile();
  virtual void Stop();
  virtual void SetCommOK(bool value);
  virtual void SetCommEnabled(bool value);

  // Runs body; an exception gives `neutral` and the "异常！" line of className.method.
  template <class R, class F>
  R Guarded(const char* className, const char* method, R neutral, F&& body) noexcept {
    try {
      return body();
    } catch (...) {
      LogExceptionNoThrow(className, method);
      return neutral;
    }
  }
  template <class F>
  void Guarded(const char* className, const char* method, F&& body) noexcept {
    try {
      body();
    } catch (...) {
      LogExceptionNoThrow(className, method);
    }
  }

  bool EnLog = true;
  bool EnLogStart = true;  // the value Refresh gives EnLog (the one creation assigns)
  bool LogAllowed = false;
  std::string sErrEvent;
  std::string DevMsg;
  int32_t DetailLogCount = 1000;

  // ---- instance state
  bool FirstInstance;
  PDB Parm{};
  bool ParmReady = false;
  bool TagListReady = false;
  bool Stopped = false;
  std::vector<std::unique_ptr<TDLLTag>> TagList;
  std::vector<TCommand*> CommandList;
  std::vector<TCommand*> PendingWrites;
  std::vector<int32_t> TagIDMap;      // -1 for identifiers that name no tag
  std::vector<int32_t> InternalTags;  // positions of the internal tags, for the link-status pass
  // The same pass touches only the tags an exchange with module d concerns: the line's COMMLINK
  // and ENCOMMLINK tags, module d's DEVICELINK tags, and module d's own tags (which a module that
  // never answered or lost power marks). Positions in list order.
  std::vector<int32_t> LineLinkTags;
  std::array<std::vector<int32_t>, kMaxDevices> DevLinkTags, DevTags;
  // Every pass stamps every internal tag. The stamp is kept here and written into the first
  // LinkStampCount tags of InternalTags only when one of them is read (FlushLinkStamp), so an
  // exchange does not walk a hundred idle link tags.
  double LinkStamp = 0;
  size_t LinkStampCount = 0;
  std::string LinkText;          // the link-status pass builds its texts here, without allocating
  std::vector<int32_t> Changed;  // the change list (see TChangeMark)
  // The scheduler's order of the read commands: by the tick each comes due (back-off included),
  // and the commands in the deepest back-off by their last selection, from which it expires.
  TCommandHeap DueHeap, ExpiryHeap;
  bool ScheduleStale = true;
  // Commands whose due time may have changed since the last selection (the chosen one, a probe).
  TCommand* LastChosen = nullptr;
  int32_t TagCount = 0;
  // Default module number: IniParm sets it; an instance without a block (the tag editor's) reads 0.
  int32_t MinDevID = 0;
  int32_t ScanTime = 500;
  plat::HostEvent NotifyEvent = 0;

  // ---- run state
  uint8_t RunStatus = rsStart;
  uint8_t RunEvent = opNone;
  bool CommEnabled = true;
  bool LastCommOK = false;
  uint8_t CommStatus = lcNever;         // a TLinkCode
  uint8_t DevStatus[kMaxDevices] = {};  // TLinkCodes
  uint32_t DevFailCount[kMaxDevices];
  bool DevEnabled[kMaxDevices];
  TDevRunInfo DevRun[kMaxDevices];
  uint64_t SendTick = 0;
  // Settings of this line, loaded from its own block: two lines of one host may differ.
  int32_t CommTimeOut = 1000;                   // answer time-out in ms
  int32_t WriteRetryBudget = 2;                 // remaining repetitions of a failing write
  bool WritePriority = DefaultWritePriority();  // writes are taken before reads
  // The last request never reached the line (port gone, device disabled): its exchange fails at
  // once instead of waiting for an answer nobody was asked for.
  bool SendFailed = false;
  // The line's quiet rule. The wire cannot tell an answer from another one that carries the same
  // check characters, so no request goes out while an answer to an earlier one that it could take
  // may still arrive; whatever arrived meanwhile is discarded by the send's input purge.
  // After a read that ended without an accepted answer (no answer, cut, damaged, refused, abandoned
  // by a pause) the whole line rests until kFailedQuietTimeOuts time-outs after that request went
  // out: its answer may still be on its way, late or behind noise.
  static constexpr int kFailedQuietTimeOuts = 3;
  bool Resting = false;
  uint64_t RestUntil = 0;
  // After an accepted answer only a repeat of it can follow, within the time-out: a request whose
  // answer would carry the same check characters and start (AnswerClass) waits until one time-out
  // after the last such request to another station went out. Indexed by AnswerClass.
  struct TAnswerWindow {
    uint64_t Until = 0;
    int32_t Dev = -1;
  };
  static constexpr int32_t kAnswerClasses = 512;
  std::array<TAnswerWindow, kAnswerClasses> AnswerWindows{};
  // Per module, its time-outs since its last good exchange (read or write): the severe-fault notice
  // is about consecutive failures of one module, so a dead module among live ones raises it and a
  // single miss after a long good run does not.
  uint32_t DevFailRun[kMaxDevices] = {};
  TCommand* CurCommand = nullptr;
  TCommand* HeadCommand = nullptr;
  int32_t ReadCommCount = 0, WriteCommCount = 0;
  double ReadTimeoutCount = 0, WriteTimeoutCount = 0;
  int32_t ReadFailCount = 0, WriteFailCount = 0;
  double StartDateTime = 0;
  uint64_t StartTick = 0;

 protected:
  // Writes the start banner; LogAllowed becomes true when it was written completely.
  void WriteBanner();
  // The five memory lines of the banner and the stop report.
  void WriteMemoryLines();
  // Releases the command lists, the tag table and the write queue.
  void ReleaseTagTable();
  // Releases every command (read list, queue, the write on the line) and forgets references to them.
  void ReleaseCommands();
  // Enters a created tag into TagIDMap and TagList.
  void AppendTag(TDLLTag* tag);
  // Marks tag as internal when its address names one of the driver's own tags; true when it does.
  bool SetupInternalTag(TDLLTag& tag, bool withEnLog);
  // The link code of module d from its failure count and switches.
  uint8_t DeviceLinkCode(int32_t d) const;
  // The COMMLINK, ENCOMMLINK and DEVICELINK<d> tags after an exchange with module d.
  void PublishLinkTags(int32_t d);
  // Module d's own tags carry its link failure in their status words (and lose their values when
  // it lost power).
  void MarkDeviceTags(int32_t d, uint8_t code);
  void PublishLineTag(TDLLTag& tag);
  void PublishDeviceTag(TDLLTag& tag, int32_t d);
  // The link-status text of a COMMLINK/DEVICELINK code.
  const std::string& LinkStatusText(uint8_t code) const;
  // The texts of the COMMLINK tag and of module d's DEVICELINK tag for a link code, built in
  // LinkText (valid until the next call).
  const std::string& CommLinkText(uint8_t code);
  const std::string& DeviceLinkText(int32_t d, uint8_t code);
  // The first value of an internal tag by its type (0 analog, 1 switch, 2 string).
  static void SetTypedValue(TDLLTag& tag, int64_t number, bool flag, const std::string* text);
  // The device's best command after an exchange of CurCommand.
  void UpdateBestCommand();
  // Counts an exchange of c and recomputes its success ratio.
  static void CountAttempt(TCommand& c, bool success);
  // Moves to the next command of CurCommand's chain and sends it with send; without one the
  // machine is ready again. True when the chain went on.
  bool ContinueChain(Handler send);
  // Starts the rest after a read that ended without an accepted answer (see Resting).
  void RestLine();
  // The rest and the answer windows belong to the port, not to the instance: leaving hands them
  // (a read still waiting ends as a miss) to the process's record of the device, and the next
  // instance to open it takes them over, so that it waits as this one would have. A device opened
  // for the first time, or long enough after its last use, costs nothing. "" shares nothing.
  void LeaveLine(const std::string& device);
  void TakeOverLine(const std::string& device);
  // True while the line rests; a rest that is over is ended.
  bool LineResting();
  // True while CurCommand must wait: the line rests, or an answer that the request could take for
  // its own may still arrive (see AnswerWindows).
  bool SendHeld();
  // Records the answer window of the read just sent.
  void OpenAnswerWindow(const TCommand* c);
  // Abandons the read on the line (pausing): its answer, should it still come, is no one's.
  void AbandonRead();
  // The failure report of a read or write given up or timed out.
  void FailureReport(const std::string& askLabel, const std::string& answerLabel);
  // A read or write time-out: counted in counter, announced, and reported with the two labels.
  void CountTimeout(double& counter, const std::string& askLabel, const std::string& answerLabel);
  // Severe-fault notice and host event after many time-outs of module dev in a row; the logging
  // switch after many time-outs in all.
  void SevereFaultCheck(int32_t dev);
  // Is c a read command of CommandList that the due-time order holds?
  bool Scheduled(const TCommand* c) const;
  // Puts c where its due time now belongs (and into or out of the deep back-off order).
  void Reschedule(TCommand* c);
  // Orders every command of CommandList afresh.
  void RebuildSchedule();
  // A write that will never be sent (it waited too long in the queue, or the driver stops): counted
  // as failed, its tag restored to what the module has, the failure status set, and logged with
  // reason, a GBK text (always when alwaysLog, else only with ErrorLog).
  void DropUnsentWrite(const TCommand& w, const std::string& reason, bool alwaysLog);
  // At a stop: every write still queued, and a write taken from the queue that has not gone out,
  // is dropped as failed, so no write the host was told was accepted ends unaccounted.
  void DropUnsentWrites();
  // Whether a write of the tag at list position p waits in PendingWrites.
  bool WriteQueued(int32_t p) const;
  // Puts a created write command into PendingWrites; false when the queue is full.
  bool QueueWrite(TDLLTag& tag, TCommand* w);
  // The steps of a host write (WriteExecute): the driver's own switches, the type check (logged
  // when it fails), and the write command for the module at position p of TagList.
  bool WriteInternalTag(TDLLTag& tag, const Variant& value);
  bool WriteTypeFits(const TDLLTag& tag, const Variant& value);
  bool QueueHostWrite(TDLLTag& tag, int32_t p, const Variant& value);
  // Logs "not writable" for tag; false.
  bool RefuseUnwritable(const TDLLTag& tag);
  // A tag value as the log lines write it.
  static std::string ValueText(const TDLLTag& tag);
  // Is d a module number (0..99)?
  static bool ValidDev(int32_t d) { return d >= 0 && d < kMaxDevices; }
  // The tag at position p of TagList, or null.
  TDLLTag* TagAt(int32_t p) const;

 private:
  void LogExceptionNoThrow(const char* className, const char* method) noexcept;
};

// One row of the run-state table.
struct TTransition {
  uint8_t Status;  // a TRunStatus
  uint8_t Event;   // a TRunEvent, or kAnyEvent
  TBaseDLLObject::Handler Exec;
};

}  // namespace korvel
