// TDLLObject: the NX4400 module protocol; the class every driver instance is made of.
#pragma once
#include "protocol/DLLObj.h"

namespace korvel {

class TDLLObject : public TCustomDLLObject {
 public:
  explicit TDLLObject(bool firstInstance);
  ~TDLLObject() override;

  // Channels are written in hexadecimal in this protocol's addresses.
  int32_t GetChannelAddr(const std::string& name, const std::string& addr, uint8_t devType) override;
  std::string GetAskStr(TCommand* cmd, TDLLTag* tag, bool isWrite) override;
  std::string GetAnswerMainStr(TCommand* cmd, TDLLTag* tag, bool isWrite) override;
  // Adds the rounding of a written analog value.
  TCommand* CreatCommand(TDLLTag* tag, std::vector<TCommand*>& list, bool isWrite) override;
  int32_t GetInterval() override;
  bool GetResult() override;
  std::string CheckCRC(const std::string& text) override;
  bool CheckResult(const std::string& answer) override;
  std::string GetCrcSourceStr(const std::string& answer) override;
  bool CommAnalyze(const std::string& answer, TCommand* cmd,
                   std::vector<std::unique_ptr<TDLLTag>>& tags) override;
};

}  // namespace korvel
