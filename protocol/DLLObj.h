// TCustomDLLObject: the generic frame layer of the module protocol on top of the framework. It
// owns the serial port, builds and groups the commands, sends requests and collects answers; the
// concrete frame texts, check characters and decoding come from TDLLObject.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/DLLBase.h"

namespace korvel {

class Line;

// Tag status codes of a failed exchange (failures 1 and 2 of a command; from the third on the
// kLateFailure bit is added as well).
constexpr uint32_t kStatusNoAnswer = 0x00100000;
constexpr uint32_t kStatusIncomplete = 0x00200000;
constexpr uint32_t kStatusBadCheck = 0x00400000;
constexpr uint32_t kStatusRefused = 0x00800000;
constexpr uint32_t kStatusLateFailure = 0x01000000;
constexpr uint32_t kStatusFailureMask = 0xFFF70000;
constexpr uint32_t kStatusSuccessMask = 0xFE071111;

class TCustomDLLObject : public TBaseDLLObject {
 public:
  explicit TCustomDLLObject(bool firstInstance);
  ~TCustomDLLObject() override;

  // Copies the block, loads the time-out and write budget, creates and opens the port.
  bool IniParm(const PDB* block) override;
  TCommand* CreatCommand(TDLLTag* tag, std::vector<TCommand*>& list, bool isWrite) override;
  // False when the tag needs no command of its own (refused, a repeated write, or merged into a
  // command of list with the same request).
  bool NeedCreatCommand(std::vector<TCommand*>& list, TDLLTag* tag, bool isWrite) override;
  void OptimizeCommParm() override;
  int32_t GetInterval() override;
  void RealComm(TCommand* cmd) override;
  // True exactly once per successful exchange of CurCommand, with the values stored.
  bool GetResult() override;
  void Stop() override;
  // The protocol description table decides which address types are read and written.
  bool AddrTypeReadable(int32_t addrType) override;
  bool AddrTypeWritable(int32_t addrType) override;

  // Channel range a command covers (the address type's block until the frame is ready).
  virtual int32_t GetCommandAddrLength(TCommand* cmd, TDLLTag* tag);
  virtual int32_t GetCommandStartAddr(TCommand* cmd, TDLLTag* tag);
  virtual int32_t GetCommandEndAddr(TCommand* cmd, TDLLTag* tag);
  // True when the exchange has failed for lack of a (complete) answer; may re-read text.
  virtual bool CheckAnswerTimeOut(std::string& text);
  int32_t AnswerClass(const TCommand* cmd) override;
  // The frame layer itself knows no frame format: TDLLObject supplies these.
  virtual std::string CheckCRC(const std::string& text);
  virtual bool CheckResult(const std::string& answer);
  virtual std::string GetCrcSourceStr(const std::string& answer);
  virtual bool CommAnalyze(const std::string& answer, TCommand* cmd,
                           std::vector<std::unique_ptr<TDLLTag>>& tags);

  // Plugs in the line to talk over instead of the serial port (tests, simulations): the next
  // IniParm opens it. Null gives the serial port back.
  void UseLine(std::unique_ptr<Line> line);
  // True while a line exists and is open.
  bool LineOpen() const;
  bool PortExists = false;

  // Protocol statistics: answers given up for lack, damage or refusal, and good reads.
  int32_t AnswerFailCount = 0;
  int32_t RefusedCount = 0;
  int32_t GoodReadCount = 0;

 protected:
  // FailCount + 1 and the failure's status code on every tag of cmd.
  void MarkFailure(TCommand* cmd, uint32_t code);
  // The exchange of cmd has an outcome: a probe of its device is over, whatever the outcome.
  void EndProbe(const TCommand* cmd);
  // The module-type name of device dev in the parameter block.
  std::string DevEntryTypeName(int32_t dev) const;
  // "智能模块类型=PLNK，模块地址=3[" style head of a command line in the log.
  std::string CommandLogHead(const TCommand* cmd) const;
  // Logs the command lines of OptimizeCommParm and Stop; returns the largest tag count.
  size_t LogCommands(bool logLines);
  // The raw image a write sends to the module: the value, or its bit set into the 16-bit word.
  static void UpdateRawImage(TDLLTag& tag);
  // A value as the write and duplicate lines show it.
  static std::string ValueText(const TDLLTag* tag, const Variant& v);

 private:
  void StopPart();
  // The line service (the port unit supplies these).
  void CreatePort();
  bool OpenPort(const PDB& block, std::string& msg);
  // True when every byte of text went out.
  bool SendToPort(const std::string& text);
  const std::string& ReadPort();
  void DestroyPort();

  std::unique_ptr<Line> Line_;
};

}  // namespace korvel
